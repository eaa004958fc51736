#include "test_helpers/media_files.h"

#include "test_helpers/child_process.h"
#include "test_helpers/temp_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace TestHelpers {

namespace {

void ffmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"-hide_banner", "-loglevel", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    const Finished run = runToEnd("/usr/bin/ffmpeg", all);
    if (run.exitCode != 0)
        throw std::runtime_error("ffmpeg failed: " + (run.err.empty() ? std::string("?") : run.err.front()));
}

std::string newPath(const std::string& extension)
{
    static int made = 0;
    return "/tmp/veldrane-media-" + std::to_string(getpid()) + "-" + std::to_string(made++) + "." + extension;
}

} // namespace

MediaFile::MediaFile(const std::string& extension, double seconds) : _path(newPath(extension))
{
    const std::string chirp = "aevalsrc=0.4*sin(2*PI*(300+150*t)*t)|0.4*sin(2*PI*(500+100*t)*t):s=44100:d="
                              + std::to_string(seconds);
    ffmpeg({"-f", "lavfi", "-i", chirp, _path});
}

MediaFile::MediaFile(const std::string& extension, const Bytes& audio) : _path(newPath(extension))
{
    const TempFile source(audio);
    ffmpeg({"-i", source.path(), _path});
}

MediaFile::~MediaFile()
{
    std::remove(_path.c_str());
}

Bytes decodedByGStreamer(const Bytes& stream)
{
    const TempFile in(stream), out(Bytes{});
    const std::string pipeline = "gst-launch-1.0 -q fdsrc fd=0 ! oggdemux ! vorbisdec ! audioconvert !"
                                 " audio/x-raw,format=F32LE ! filesink location="
                                 + out.path() + " < " + in.path();
    if (runToEnd("/bin/sh", {"-c", pipeline}).exitCode != 0)
        return Bytes();
    std::ifstream raw(out.path(), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
}

std::vector<float> MediaFile::decode() const
{
    const std::string raw = _path + ".raw";
    ffmpeg({"-i", _path, "-f", "f32le", "-ac", "2", "-ar", "44100", raw});
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(samples.size() * sizeof(float)),
              reinterpret_cast<char*>(samples.data()));
    return samples;
}

} // namespace TestHelpers
