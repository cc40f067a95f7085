#include "desktop_scripts.hpp"

#include "desktop.hpp"

namespace pp::test {

namespace {

// The user sway runs as, since it refuses root.
constexpr const char* SWAY_USER = "65534";

const char* SESSION_START = R"(set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME="$F/home" XDG_RUNTIME_DIR="$RUN"
export XDG_CONFIG_HOME="$F/home/.config" XDG_CACHE_HOME="$F/home/.cache" XDG_DATA_HOME="$F/home/.local/share"
export XDG_STATE_HOME="$F/home/.local/state" GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1
export DBUS_SESSION_BUS_ADDRESS="unix:path=$RUN/bus"
# Waits (at most 30 s) until the path exists.
await() {
  for _ in $(seq 600); do [ -e "$1" ] && return 0; sleep 0.05; done
  echo "session: $1 did not appear"
  exit 1
}
# Waits (at most 30 s) until the bus (--session or --system) answers: its socket appears before the
# daemon listens on it.
awaitBus() {
  for _ in $(seq 600); do
    gdbus call "$1" --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.GetId >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "session: the $1 bus did not answer"
  exit 1
}
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" &
awaitBus --session
)";

const char* PIPEWIRE = R"(pipewire &
await "$RUN/pipewire-0"
wireplumber &
)";

const char* LOGIND = R"(dbus-daemon --config-file="$F/system-bus.conf" --nofork --nopidfile &
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$F/system_bus"
awaitBus --system
python3 -m dbusmock --system --template logind &
gdbus wait --system --timeout 30 org.freedesktop.login1 || { echo "session: no logind"; exit 1; }
)";

std::string swayLine()
{
    return std::string("env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 "
                       "setpriv --reuid=") +
           SWAY_USER + " --regid=" + SWAY_USER + " --clear-groups sway -c \"$F/sway.conf\" &\n";
}

}  // namespace

std::string namespaceScript(const std::string& root, const std::string& folder)
{
    return "set -e\nR='" + root + "'\nF='" + folder + "'\n" + R"(mount -t proc proc "$R/proc"
mount --rbind /sys "$R/sys"
mount --rbind /dev "$R/dev"
mount -t tmpfs -o mode=1777 tmpfs "$R/tmp"
mkdir -p "$R$F"
mount --bind "$F" "$R$F"
exec chroot "$R" /usr/bin/env -i /bin/bash "$F/session.sh"
)";
}

std::string sessionScript(DesktopKind kind, const std::string& folder, const std::string& runtimeDir, int width,
                          int height, bool kwinVirtual)
{
    const std::string mode = std::to_string(width) + "x" + std::to_string(height);
    std::string script = "F='" + folder + "'\nRUN='" + runtimeDir + "'\n" + SESSION_START;
    switch (kind) {
    case DesktopKind::mutter:
    case DesktopKind::gnomeShell:
        script += PIPEWIRE;
        if (kind == DesktopKind::gnomeShell) script += LOGIND;
        script += std::string(kind == DesktopKind::mutter ? "mutter" : "gnome-shell") +
                  " --headless --wayland --no-x11 --virtual-monitor " + mode + " --wayland-display " +
                  DESKTOP_SOCKET + " &\n";
        break;
    case DesktopKind::kwin:
        if (kwinVirtual) {
            script += "kwin_wayland --virtual --socket " + std::string(DESKTOP_SOCKET) + " --width " +
                      std::to_string(width) + " --height " + std::to_string(height) +
                      " --no-lockscreen --no-global-shortcuts &\n";
            break;
        }
        // KWin draws into a window of the sway, which grim reads.
        script += swayLine() + "sway=$!\n" +
                  "for _ in $(seq 600); do host=$(cd \"$RUN\" && ls wayland-? 2>/dev/null | head -n 1); "
                  "[ -n \"$host\" ] && break; sleep 0.05; done\n"
                  "[ -n \"$host\" ] || { echo 'session: sway did not start'; exit 1; }\n"
                  "WAYLAND_DISPLAY=$host kwin_wayland --socket " +
                  DESKTOP_SOCKET + " --wayland-display \"$host\" --width " + std::to_string(width) + " --height " +
                  std::to_string(height) + " --no-lockscreen --no-global-shortcuts &\n";
        break;
    case DesktopKind::sway:
        script += swayLine();
        break;
    }
    script += "compositor=$!\nwait $compositor\necho \"session: the compositor ended with status $?\"\n";
    return script;
}

std::string swayConfig(int width, int height)
{
    return "xwayland disable\ndefault_border none\ndefault_floating_border none\ngaps inner 0\ngaps outer 0\n"
           "focus_follows_mouse no\nswaybg_command -\n"
           "output HEADLESS-1 mode " +
           std::to_string(width) + "x" + std::to_string(height) +
           " position 0 0 scale 1\nfor_window [app_id=\".*\"] fullscreen enable\n";
}

std::string systemBusConfig(const std::string& folder)
{
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:path=)" + folder + R"(/system_bus</listen>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_type="*"/>
  </policy>
</busconfig>
)";
}

std::string settingsKeyfile(bool animations)
{
    return std::string("[org/gnome/desktop/interface]\nenable-animations=") + (animations ? "true" : "false") + "\n";
}

std::string screenCastScript()
{
    return R"(import subprocess, sys
from gi.repository import Gio, GLib
connector, target = sys.argv[1], sys.argv[2]
NAME = 'org.gnome.Mutter.ScreenCast'
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
def call(path, interface, method, args, reply):
    return bus.call_sync(NAME, path, NAME + interface, method, args, GLib.VariantType(reply) if reply else None,
                         Gio.DBusCallFlags.NONE, 20000, None)
session = call('/org/gnome/Mutter/ScreenCast', '', 'CreateSession', GLib.Variant('(a{sv})', ({},)), '(o)')[0]
stream = call(session, '.Session', 'RecordMonitor',
              GLib.Variant('(sa{sv})', (connector, {'cursor-mode': GLib.Variant('u', 0)})), '(o)')[0]
loop = GLib.MainLoop()
nodes = []
def added(connection, sender, path, interface, signal, parameters):
    nodes.append(parameters[0])
    loop.quit()
bus.signal_subscribe(NAME, NAME + '.Stream', 'PipeWireStreamAdded', stream, None, Gio.DBusSignalFlags.NONE, added)
call(session, '.Session', 'Start', None, None)
GLib.timeout_add_seconds(20, loop.quit)
loop.run()
if not nodes:
    sys.exit('screencast: no PipeWire stream')
status = subprocess.run(['gst-launch-1.0', '-q', 'pipewiresrc', 'path=%d' % nodes[0], 'num-buffers=1', '!',
                         'video/x-raw,format={BGRx,BGRA}', '!', 'filesink', 'location=' + target], timeout=60).returncode
call(session, '.Session', 'Stop', None, None)
sys.exit(status)
)";
}

std::string screenshotScript()
{
    return R"(import sys
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
for name in ('org.gnome.Screenshot', 'org.gnome.SettingsDaemon.MediaKeys'):
    bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'RequestName',
                  GLib.Variant('(su)', (name, 4)), GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, 10000, None)
done, used = bus.call_sync('org.gnome.Shell.Screenshot', '/org/gnome/Shell/Screenshot', 'org.gnome.Shell.Screenshot',
                           'Screenshot', GLib.Variant('(bbs)', (False, False, sys.argv[1])), GLib.VariantType('(bs)'),
                           Gio.DBusCallFlags.NONE, 60000, None)
sys.exit(0 if done else 'screenshot: refused')
)";
}

}  // namespace pp::test
