#include "platform/tray_host.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef VARNHOLT_HAVE_APPINDICATOR
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#endif

#include "platform/display_loss.h"
#include "platform/paths.h"
#include "platform/single_instance.h"

namespace {
struct TrayHostState {
    std::mutex mutex;
    std::condition_variable wake;
    // The tray thread is detached (no joinable thread object may outlive
    // main); stopTrayHost waits for `ended` instead of joining.
    std::condition_variable endedSignal;
    std::thread::id threadId;
    bool ended = true;
    bool decided = false;     // the tray thread knows whether a tray host shows the icon
    bool gtkRunning = false;  // the indicator exists; menu changes go to it
    std::condition_variable decidedSignal;
    TrayPresenceHandler presenceHandler = nullptr;
    bool running = false;
    bool stopRequested = false;
    bool real = false;
    std::vector<TrayHostItem> items;
    std::string tip;
    std::vector<uint8_t> icon;
    int iconWidth = 0;
    int iconHeight = 0;
    TrayCommandHandler handler = nullptr;
    int secondaryCommand = 0;
};
TrayHostState g_host;

// Records whether a tray host shows the icon; tells the program when that changed.
void setHostReal(bool real) {
    TrayPresenceHandler handler = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        if (g_host.decided && g_host.real != real) handler = g_host.presenceHandler;
        g_host.real = real;
        g_host.decided = true;
    }
    g_host.decidedSignal.notify_all();
    if (handler) handler(real);
}

void runNullHost() {
    setHostReal(false);
    std::unique_lock<std::mutex> lock(g_host.mutex);
    g_host.wake.wait(lock, [] { return g_host.stopRequested; });
}

constexpr const char* kIconName = "varnholt-tray";

// The icon's folder below the private runtime folder, so no other user can
// plant a file or a link there; named after the data folder, so an instance
// on another data folder never removes the icon this one shows. Empty when
// there is no safe folder.
std::string iconFolderPath() {
    const std::string parent = privateRuntimeFolder();
    if (parent.empty()) return {};
    const std::string tag = heldDataFolderTag();
    return parent + "/varnholt-icons" + (tag.empty() ? "" : "-" + tag);
}

#ifdef VARNHOLT_HAVE_APPINDICATOR
AppIndicator* g_indicator = nullptr;
GtkWidget* g_menu = nullptr;

bool sessionHasTrayHost() {
    if (!sessionBusNamed()) return false;
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!connection) {
        if (error) g_error_free(error);
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &error);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    if (error) g_error_free(error);
    g_object_unref(connection);
    return owned;
}

void onItemActivated(GtkMenuItem*, gpointer data) {
    TrayCommandHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        handler = g_host.handler;
    }
    if (handler) handler(GPOINTER_TO_INT(data));
}

void appendItems(GtkWidget* menu, const std::vector<TrayHostItem>& items, GtkWidget** secondary,
                 int secondaryCommand) {
    for (const TrayHostItem& item : items) {
        GtkWidget* widget;
        if (item.separator) {
            widget = gtk_separator_menu_item_new();
        } else if (item.checked) {
            widget = gtk_check_menu_item_new_with_label(item.label.c_str());
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), TRUE);
        } else {
            widget = gtk_menu_item_new_with_label(item.label.c_str());
        }
        gtk_widget_set_sensitive(widget, item.enabled);
        if (!item.children.empty()) {
            GtkWidget* sub = gtk_menu_new();
            appendItems(sub, item.children, secondary, secondaryCommand);
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), sub);
        } else if (!item.separator) {
            g_signal_connect(widget, "activate", G_CALLBACK(onItemActivated),
                             GINT_TO_POINTER(item.id));
            if (item.id == secondaryCommand) *secondary = widget;
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
}

gboolean rebuildMenu(gpointer) {
    std::vector<TrayHostItem> items;
    std::string tip;
    int secondaryCommand;
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        items = g_host.items;
        tip = g_host.tip;
        secondaryCommand = g_host.secondaryCommand;
    }
    GtkWidget* menu = gtk_menu_new();
    GtkWidget* secondary = nullptr;
    appendItems(menu, items, &secondary, secondaryCommand);
    gtk_widget_show_all(menu);
    // The old target dies with the old menu.
    app_indicator_set_secondary_activate_target(g_indicator, nullptr);
    app_indicator_set_menu(g_indicator, GTK_MENU(menu));
    if (secondary) app_indicator_set_secondary_activate_target(g_indicator, secondary);
    app_indicator_set_title(g_indicator, tip.c_str());
    g_menu = menu;
    return G_SOURCE_REMOVE;
}

gboolean quitGtk(gpointer) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

// Where the icon file lies, made when missing: tray hosts load icons by name
// from a folder.
std::string iconFolder() {
    const std::string folder = iconFolderPath();
    if (folder.empty()) return {};
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077))
        return {};
    return folder;
}

// Writes the bytes to a new file (never through a link) and renames it over `path`.
bool writeFileAtomically(const std::string& path, const gchar* bytes, gsize size) {
    const std::string temp = path + ".tmp";
    unlink(temp.c_str());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = write(fd, bytes, size) == static_cast<ssize_t>(size);
    close(fd);
    if (written && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}

std::string writeIconFile() {
    const std::string folder = iconFolder();
    std::vector<uint8_t> pixels;
    int width, height;
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        pixels = g_host.icon;
        width = g_host.iconWidth;
        height = g_host.iconHeight;
    }
    if (folder.empty() || pixels.empty()) return folder;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(pixels.data(), GDK_COLORSPACE_RGB, TRUE, 8, width,
                                                 height, width * 4, nullptr, nullptr);
    if (!pixbuf) return folder;
    gchar* png = nullptr;
    gsize size = 0;
    if (gdk_pixbuf_save_to_buffer(pixbuf, &png, &size, "png", nullptr, nullptr)) {
        writeFileAtomically(folder + "/" + kIconName + ".png", png, size);
        g_free(png);
    }
    g_object_unref(pixbuf);
    return folder;
}

// The panel (and its StatusNotifierWatcher) may come up after the program,
// or go and come back: the icon is shown whenever one is there.
void onWatcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer) {
    setHostReal(true);
    rebuildMenu(nullptr);
}

void onWatcherVanished(GDBusConnection*, const gchar*, gpointer) { setHostReal(false); }

bool runGtkHost() {
    // Never without a session bus: GTK and the indicator would autolaunch one.
    if (!sessionBusNamed() || !gtk_init_check(nullptr, nullptr)) return false;
    reinstallDisplayLossHandler();  // GDK put in its own, which calls _exit(1)
    const std::string folder = writeIconFile();
    g_indicator = app_indicator_new("varnholt", kIconName,
                                    APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    app_indicator_set_icon_theme_path(g_indicator, folder.c_str());
    app_indicator_set_status(g_indicator, APP_INDICATOR_STATUS_ACTIVE);
    setHostReal(sessionHasTrayHost());
    const guint watch = g_bus_watch_name(G_BUS_TYPE_SESSION, "org.kde.StatusNotifierWatcher",
                                         G_BUS_NAME_WATCHER_FLAGS_NONE, onWatcherAppeared, onWatcherVanished,
                                         nullptr, nullptr);
    bool stop;
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        g_host.gtkRunning = true;
        stop = g_host.stopRequested;
    }
    if (!stop) {
        rebuildMenu(nullptr);
        gtk_main();
    }
    g_bus_unwatch_name(watch);
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        g_host.gtkRunning = false;
        g_host.real = false;
    }
    app_indicator_set_status(g_indicator, APP_INDICATOR_STATUS_PASSIVE);
    g_object_unref(g_indicator);
    g_indicator = nullptr;
    removeTrayHostIconFile();
    return true;
}
#endif

void runTrayThread() {
#ifdef VARNHOLT_HAVE_APPINDICATOR
    if (runGtkHost()) return;
#endif
    runNullHost();
}

void trayThreadMain() {
    runTrayThread();
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        g_host.ended = true;
    }
    g_host.endedSignal.notify_all();
}

// How long the end of the program waits for the tray thread to let GTK go.
constexpr auto kTrayStopWait = std::chrono::seconds(3);
// How long a start waits for the tray thread to learn whether a tray host is there.
constexpr auto kTrayDecisionWait = std::chrono::seconds(3);
}  // namespace

bool startTrayHost(const std::vector<uint8_t>& iconRgba, int width, int height,
                   TrayCommandHandler handler, int secondaryCommand) {
    std::unique_lock<std::mutex> lock(g_host.mutex);
    if (g_host.running) return true;
    g_host.icon = iconRgba;
    g_host.iconWidth = width;
    g_host.iconHeight = height;
    g_host.handler = handler;
    g_host.secondaryCommand = secondaryCommand;
    g_host.stopRequested = false;
    g_host.real = false;
    g_host.decided = false;
    g_host.ended = false;
    std::thread thread(trayThreadMain);
    g_host.threadId = thread.get_id();
    thread.detach();
    g_host.running = true;
    // The start decides from it whether the window may start hidden.
    g_host.decidedSignal.wait_for(lock, kTrayDecisionWait, [] { return g_host.decided; });
    return true;
}

void publishTrayHostMenu(const std::vector<TrayHostItem>& items, const std::string& tip) {
    bool real;
    {
        std::lock_guard<std::mutex> guard(g_host.mutex);
        g_host.items = items;
        g_host.tip = tip;
        real = g_host.gtkRunning && !g_host.stopRequested;
    }
#ifdef VARNHOLT_HAVE_APPINDICATOR
    if (real) g_idle_add(rebuildMenu, nullptr);
#else
    (void)real;
#endif
}

std::vector<TrayHostItem> publishedTrayHostMenu() {
    std::lock_guard<std::mutex> guard(g_host.mutex);
    return g_host.items;
}

void stopTrayHost() {
    std::unique_lock<std::mutex> lock(g_host.mutex);
    if (!g_host.running) return;
    g_host.stopRequested = true;
    g_host.running = false;
#ifdef VARNHOLT_HAVE_APPINDICATOR
    if (g_host.gtkRunning) g_idle_add(quitGtk, nullptr);
#endif
    g_host.wake.notify_all();
    if (g_host.threadId == std::this_thread::get_id()) return;
    g_host.endedSignal.wait_for(lock, kTrayStopWait, [] { return g_host.ended; });
}

void removeTrayHostIconFile() {
    const std::string folder = iconFolderPath();
    if (folder.empty()) return;
    unlink((folder + "/" + kIconName + ".png").c_str());
    rmdir(folder.c_str());
}

bool trayHostRunning() {
    std::lock_guard<std::mutex> guard(g_host.mutex);
    return g_host.running;
}

void setTrayPresenceHandler(TrayPresenceHandler handler) {
    std::lock_guard<std::mutex> guard(g_host.mutex);
    g_host.presenceHandler = handler;
}

bool trayHostIsReal() {
    std::lock_guard<std::mutex> guard(g_host.mutex);
    return g_host.real;
}
