// orvane3-answer-receiver: the receiving end of an orvane3 answer channel. Opens the exchange
// with the given identifier, prints every text answer as it arrives and ends at the end marker.
// A program that asks orvane3 for an operation reads its answers this way; the tests use it as
// the second process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ipc/IPCBasics.h"

namespace {

const char* const Usage =
    "usage: orvane3-answer-receiver ID [--no-answer] [--timeout MS]\n"
    "\n"
    "Receives the answers of exchange ID (a decimal number) and prints one line per event:\n"
    "  READY            the exchange is open; answers may come\n"
    "  ANSWER <text>    a text answer (UTF-16 in the block, printed as UTF-8)\n"
    "  LOST             an answer whose block was gone before it could be read\n"
    "  END              the end marker; the program exits with status 0\n"
    "  TIMEOUT          nothing arrived within MS ms (default 10000); exit status 1\n"
    "--no-answer reads the answers but never tells the sender they were taken, so each one\n"
    "costs the sender its full hand-over time.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    char* end = nullptr;
    const unsigned long id = std::strtoul(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || id > 0xFFFFFFFFul) {
        std::fprintf(stderr, "orvane3-answer-receiver: bad exchange identifier %s\n", argv[1]);
        return 2;
    }
    bool acknowledge = true;
    int timeoutMs = 10000;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-answer") == 0) {
            acknowledge = false;
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            timeoutMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "orvane3-answer-receiver: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    try {
        orvane::ipc::TUniDirDataClient client(static_cast<std::uint32_t>(id));
        std::printf("READY\n");
        std::fflush(stdout);
        std::vector<std::uint8_t> bytes;
        for (;;) {
            using TReceive = orvane::ipc::TUniDirDataClient::TReceive;
            switch (client.Receive(timeoutMs, bytes, acknowledge)) {
                case TReceive::rcAnswer:
                    std::printf("ANSWER %s\n", orvane::ipc::Utf16LeToText(bytes).c_str());
                    break;
                case TReceive::rcLost:
                    std::printf("LOST\n");
                    break;
                case TReceive::rcEnd:
                    std::printf("END\n");
                    return 0;
                case TReceive::rcTimeout:
                    std::printf("TIMEOUT\n");
                    return 1;
            }
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane3-answer-receiver: %s\n", e.what());
        return 1;
    }
}
