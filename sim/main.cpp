// torvex-sim: serves a simulated indicator until SIGINT/SIGTERM/SIGHUP.

#include "CommandLine.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <pthread.h>

using namespace torvexsim;

namespace {

bool readFile(const std::string &path, Bytes &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string &path, const Bytes &data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
    return bool(f.flush());
}

void summary(const Counters &c)
{
    std::printf("frames: %llu (%llu bad)\n", (unsigned long long)c.frames, (unsigned long long)c.badFrames);
    std::printf("blocks written: %llu\n", (unsigned long long)c.blocksWritten);
    std::printf("retransmissions: %llu\n", (unsigned long long)c.retransmissions);
    std::printf("NAKs sent: %llu\n", (unsigned long long)c.naks);
    std::printf("stray bytes: %llu\n", (unsigned long long)c.strayBytes);
    std::printf("noise injected: %llu (from host %llu, to host %llu)\n",
                (unsigned long long)(c.noiseFromHost + c.noiseToHost),
                (unsigned long long)c.noiseFromHost, (unsigned long long)c.noiseToHost);
    std::printf("erases: %llu\n", (unsigned long long)c.erases);
    std::printf("resets: %llu\n", (unsigned long long)c.resets);
}

}  // namespace

int main(int argc, char **argv)
{
    Invocation inv;
    std::string error;
    if (!parseCommandLine(argc, argv, inv, error)) {
        std::fprintf(stderr, "torvex-sim: %s\nTry torvex-sim --help.\n", error.c_str());
        return 2;
    }
    if (inv.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (inv.version) {
        std::printf("torvex-sim %s\n", TORVEX_SIM_VERSION);
        return 0;
    }
    if (!inv.makeImage.empty()) {
        const Bytes image = makeSampleImage(inv.image);
        if (!writeFile(inv.makeImage, image)) {
            std::fprintf(stderr, "torvex-sim: cannot write %s\n", inv.makeImage.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes, version %s\n", inv.makeImage.c_str(), image.size(), inv.image.version.c_str());
        return 0;
    }
    if (!inv.flashIn.empty() && !readFile(inv.flashIn, inv.sim.initialFlash)) {
        std::fprintf(stderr, "torvex-sim: cannot read %s\n", inv.flashIn.c_str());
        return 1;
    }
    if (inv.log)
        inv.sim.log = [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); };

    // Blocked before the worker starts so that only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Simulator sim(inv.sim);
    try {
        sim.start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "torvex-sim: %s\n", e.what());
        return 1;
    }
    std::printf("slave %s\nlink %s\n", sim.slavePath().c_str(), sim.linkPath().c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&signals, &sig);
    sim.stop();
    int rc = 0;
    if (!sim.writeFlashOut()) {
        std::fprintf(stderr, "torvex-sim: cannot write %s\n", inv.sim.flashOutPath.c_str());
        rc = 1;
    }
    summary(sim.counters());
    return rc;
}
