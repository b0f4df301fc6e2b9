#include "engine/engine_wiring.h"

#include "engine/archive_prepare.h"
#include "engine/backup_engine.h"
#include "engine/change_watcher.h"
#include "engine/engine_hooks.h"
#include "engine/file_watcher_pass.h"
#include "engine/monitor_ui.h"
#include "engine/supervisor.h"
#include "foundation/app_config.h"

void wireEngine() {
    // The copier, the queue count, archive preparation and the consistency scan.
    installArchiveHooks();
    // Pending changes, the watcher's running flag and its rebuild.
    installChangeWatcherHooks();
    // The backup's copy results and statuses, and the thread the scheduler starts.
    installBackupEngineHooks();
    EngineHooks hooks = engineHooks();
    hooks.monitorUIThread = monitorUIThread;
    hooks.fileWatcherThread = fileWatcherThread;
    hooks.saveAppConfiguration = saveAppConfiguration;
    setEngineHooks(hooks);
    setEngineStarter(startEngine);
}
