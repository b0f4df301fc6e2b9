#include "fake_tray_watcher.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

std::string spawnAndReadLine(std::vector<std::string> args, const std::string& fdArgPrefix, pid_t& pid) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    args.push_back(fdArgPrefix + std::to_string(fds[1]));
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string line;
    char c;
    while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    close(fds[0]);
    return line;
}

SessionBus::SessionBus(const std::string& folder) {
    address = spawnAndReadLine({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + folder + "/bus"},
                               "--print-address=", pid);
}

SessionBus::~SessionBus() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

namespace {
const char* kWatcherXml =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "</interface></node>";

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            GDBusMethodInvocation* invocation, gpointer) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* onGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**, gpointer) {
    if (g_strcmp0(name, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
    if (g_strcmp0(name, "ProtocolVersion") == 0) return g_variant_new_int32(0);
    return g_variant_new_strv(nullptr, 0);
}
}  // namespace

struct FakeTrayWatcher::State {
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    GDBusConnection* bus = nullptr;
    std::atomic<bool> owned{false};
    std::thread thread;
};

FakeTrayWatcher::FakeTrayWatcher(const std::string& address) : state_(new State) {
    g_main_context_push_thread_default(state_->context);
    state_->bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (state_->bus) {
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
        static const GDBusInterfaceVTable vtable = {onCall, onGet, nullptr, {}};
        g_dbus_connection_register_object(state_->bus, "/StatusNotifierWatcher", info->interfaces[0], &vtable,
                                          nullptr, nullptr, nullptr);
        g_dbus_node_info_unref(info);
        GVariant* reply = g_dbus_connection_call_sync(
            state_->bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 0u), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (reply) {
            guint32 result = 0;
            g_variant_get(reply, "(u)", &result);
            state_->owned = result == 1;
            g_variant_unref(reply);
        }
    }
    g_main_context_pop_thread_default(state_->context);
    State* s = state_;
    s->thread = std::thread([s] {
        g_main_context_push_thread_default(s->context);
        g_main_loop_run(s->loop);
        g_main_context_pop_thread_default(s->context);
    });
}

FakeTrayWatcher::~FakeTrayWatcher() {
    g_main_loop_quit(state_->loop);
    state_->thread.join();
    if (state_->bus) {
        g_dbus_connection_close_sync(state_->bus, nullptr, nullptr);
        g_object_unref(state_->bus);
    }
    g_main_loop_unref(state_->loop);
    g_main_context_unref(state_->context);
    delete state_;
}

bool FakeTrayWatcher::owned() const { return state_->owned.load(); }
