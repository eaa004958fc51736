#include "send/input_stream.h"
#include "send/ogg_page_reader.h"
#include "send/ogg_repager.h"
#include "send/pacing_schedule.h"
#include "send/send_options.h"
#include "send/send_session.h"
#include "utils/console.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <unistd.h>

namespace {

enum ExitCode {
    exitOk = 0,
    exitError = 1,
    exitUsage = 2,
    exitNoReceiver = 3,
    exitNotOggVorbis = 4,
    exitGaveUp = 5,
    exitConnectionLost = 6,
    exitUnreadable = 7,
};

void fail(const std::string& text)
{
    Utils::printErr("veldrane-send: " + text + "\n");
}

int play(const Send::SendOptions& options)
{
    Send::InputStream input(options.path);

    // Checked before connecting: the receiver would only fail five times.
    double total = 0;
    {
        Send::OggPageReader reader(input);
        Send::OggPage first;
        if (!reader.next(first) || first.truncated || reader.skippedBytes() > 0 || !first.bos
            || first.sampleRate <= 0) {
            fail(input.name() + " is not an Ogg Vorbis stream");
            return exitNotOggVorbis;
        }
        if (input.seekable()) {
            Send::PacingSchedule schedule(0);
            Send::OggPage page = first;
            do {
                schedule.due(page);
            } while (reader.next(page));
            total = schedule.playEnd();
        }
        input.rewind();
    }

    Send::SessionConfig config;
    config.host = options.host;
    config.port = options.port;
    config.lead = options.lead;
    config.loop = options.loop;
    config.readyTimeoutMs = options.timeoutMs;
    config.progress = options.progress && isatty(STDOUT_FILENO);
    config.totalSeconds = total;
    // Every page fits one datagram, so that a lost datagram costs only the
    // pages it carries.
    Send::OggPageReader reader(input);
    Send::OggRepager source(reader, config.datagramBytes);
    Send::SendSession session(config, source);
    switch (session.run()) {
    case Send::SendSession::Result::Finished:
        return exitOk;
    case Send::SendSession::Result::NoReceiver:
        return exitNoReceiver;
    case Send::SendSession::Result::GaveUp:
        return exitGaveUp;
    case Send::SendSession::Result::ConnectionLost:
        return exitConnectionLost;
    }
    return exitError;
}

} // namespace

int main(int argc, char** argv)
{
    Utils::lineBufferConsole();
    // The network objects' life is the receiver's trace, not ours.
    Utils::showTrace(false);
    Send::SendOptions options;
    if (!options.parse(argc, argv)) {
        fail(options.error() + " (see veldrane-send --help)");
        return exitUsage;
    }
    if (options.help()) {
        std::fputs(Send::SendOptions::usage().c_str(), stdout);
        return exitOk;
    }
    try {
        return play(options);
    } catch (const std::runtime_error& e) {
        fail(e.what());
        return exitUnreadable;
    } catch (const std::exception&) {
        fail("unexpected error");
        return exitError;
    }
}
