#include "test_helpers/pipewire_server.h"

#include "test_helpers/wait.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace TestHelpers {

namespace {

using namespace std::chrono_literals;

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

bool accepts(const std::string& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return false;
    socketPath.copy(address.sun_path, socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return connected;
}

} // namespace

PipeWireServer::PipeWireServer(const std::string& sinkName)
{
    try {
        start(sinkName);
    } catch (const std::exception& e) {
        _whyNot = e.what();
        if (_whyNot.find("cannot start") == 0)
            _whyNot += " (scripts/deps.sh installs PipeWire)";
    }
}

PipeWireServer::~PipeWireServer()
{
    // Clients first, the bus last.
    _pulse.reset();
    _wireplumber.reset();
    _pipewire.reset();
    _bus.reset();
    if (!_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(_dir, ignored);
    }
}

std::string PipeWireServer::pulseServer() const
{
    return "unix:" + _dir + "/runtime/pulse/native";
}

std::vector<std::string> PipeWireServer::environment() const
{
    // Everything that could lead the daemons to the user's own session, or
    // to files of the user's, points into the directory instead.
    return {"HOME=" + _dir,
            "XDG_RUNTIME_DIR=" + _dir + "/runtime",
            "PIPEWIRE_RUNTIME_DIR=" + _dir + "/runtime",
            "PULSE_RUNTIME_PATH=" + _dir + "/runtime/pulse",
            "PIPEWIRE_REMOTE=pipewire-0",
            "XDG_CONFIG_HOME=" + _dir + "/config",
            "XDG_STATE_HOME=" + _dir + "/state",
            "XDG_DATA_HOME=" + _dir + "/data",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + _dir + "/bus",
            "PULSE_SERVER=" + pulseServer()};
}

void PipeWireServer::writeConfiguration() const
{
    const std::filesystem::path config = _dir + "/config";
    // A long graph period (2048 frames, 46 ms): on a busy test machine a
    // short one misses cycles, which the recording shows as gaps.
    writeFile(config / "pipewire/pipewire.conf.d/veldrane-test.conf",
              "context.properties = {\n"
              "    default.clock.rate = 44100\n"
              "    default.clock.allowed-rates = [ 44100 ]\n"
              "    default.clock.quantum = 2048\n"
              "    default.clock.min-quantum = 2048\n"
              "}\n");
    const std::string noDevices = "alsa_monitor.enabled = false\n"
                                  "v4l2_monitor.enabled = false\n"
                                  "libcamera_monitor.enabled = false\n";
    writeFile(config / "wireplumber/main.lua.d/60-veldrane-test.lua", noDevices);
    writeFile(config / "wireplumber/bluetooth.lua.d/60-veldrane-test.lua", "bluez_monitor.enabled = false\n");
}

void PipeWireServer::start(const std::string& sinkName)
{
    char dir[] = "/tmp/veldrane-pipewire.XXXXXX";
    if (!mkdtemp(dir))
        throw std::runtime_error("cannot make a temporary directory");
    _dir = dir;
    // PipeWire insists on a runtime directory only its user can enter.
    if (mkdir((_dir + "/runtime").c_str(), 0700) != 0)
        throw std::runtime_error("cannot make the runtime directory");
    writeConfiguration();
    const auto env = environment();

    // WirePlumber quits without a session bus.
    _bus = std::make_unique<ChildProcess>("/usr/bin/dbus-daemon",
                                          std::vector<std::string>{"--session", "--nofork", "--nopidfile",
                                                                   "--print-address=1",
                                                                   "--address=unix:path=" + _dir + "/bus"},
                                          env);
    if (!_bus->waitForStdout("unix:path=", 10s))
        throw std::runtime_error("the session bus did not start" + logTail());

    _pipewire = std::make_unique<ChildProcess>("/usr/bin/pipewire", std::vector<std::string>{}, env);
    // Its clients give up at once when it is not listening yet.
    if (!waitFor([&] { return accepts(_dir + "/runtime/pipewire-0"); }, 10s))
        throw std::runtime_error("pipewire did not listen within 10 s" + logTail());
    _wireplumber = std::make_unique<ChildProcess>("/usr/bin/wireplumber", std::vector<std::string>{}, env);
    _pulse = std::make_unique<ChildProcess>("/usr/bin/pipewire-pulse", std::vector<std::string>{}, env);

    std::string said;
    if (!waitFor([&] { return pactl({"info"}, said); }, 15s))
        throw std::runtime_error("pipewire-pulse did not answer within 15 s: " + said + logTail());
    if (said.find("on PipeWire") == std::string::npos)
        throw std::runtime_error("the server that answered is not PipeWire's: " + said);
    if (!pactl({"load-module", "module-null-sink", "sink_name=" + sinkName, "rate=44100", "format=float32le",
                "channels=2", "sink_properties=device.description=" + sinkName},
               said))
        throw std::runtime_error("cannot make the null sink: " + said + logTail());
    // The default is kept in WirePlumber's metadata, which may not exist yet.
    if (!waitFor([&] { return pactl({"set-default-sink", sinkName}, said); }, 15s))
        throw std::runtime_error("cannot make the null sink the default: " + said + logTail());
}

bool PipeWireServer::pactl(const std::vector<std::string>& args, std::string& said) const
{
    const auto run = runToEnd("/usr/bin/pactl", args, environment(), 5s);
    said.clear();
    for (const auto& line : run.out)
        said += line + "\n";
    for (const auto& line : run.err)
        said += line + "\n";
    return run.exitCode == 0;
}

std::string PipeWireServer::logTail() const
{
    std::string tail;
    const std::pair<const char*, const ChildProcess*> daemons[] = {{"dbus-daemon", _bus.get()},
                                                                   {"pipewire", _pipewire.get()},
                                                                   {"wireplumber", _wireplumber.get()},
                                                                   {"pipewire-pulse", _pulse.get()}};
    for (const auto& [name, daemon] : daemons) {
        if (!daemon)
            continue;
        const auto lines = daemon->lines();
        for (std::size_t i = lines.size() > 5 ? lines.size() - 5 : 0; i < lines.size(); ++i)
            tail += std::string("\n  ") + name + ": " + lines[i];
    }
    return tail;
}

} // namespace TestHelpers
