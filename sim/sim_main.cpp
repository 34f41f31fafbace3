// readerdesk-sim: simulated readers, each on a pseudo-terminal of its own, published as
// DIR/COMn and/or served on a TCP port of 127.0.0.1, until SIGINT or SIGTERM.
#include "sim/reader_sim.h"

#include "protocol/recording.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <pthread.h>

namespace {

const char* const kUsage =
    "Usage: readerdesk-sim [options]\n"
    "Simulates readers, each on a pseudo-terminal of its own, until SIGINT or SIGTERM.\n"
    "One line per reader on standard output: COMn IDENT PTY [DIR/COMn] [tcp://HOST:PORT].\n"
    "\n"
    "  --port-dir DIR          publish each pty as DIR/COM<n> (without it: not published)\n"
    "  --com N[,N...]          COM numbers, one reader each (repeatable; default 3); every\n"
    "                          reader has the options below\n"
    "  --tcp PORT              also serve the reader on 127.0.0.1:PORT as a serial device\n"
    "                          server in raw mode does, one client at a time (a new client\n"
    "                          takes over); 0: a free port, printed (with several readers\n"
    "                          only 0: each its own)\n"
    "  --id IDENT              reader identifier (default VKR900-15): VKR900-15, VKR900-12,\n"
    "                          VKR900-153, VKR433-16, VKR433-SAW, WG, K7000 or any text\n"
    "  --tags N                tags in the field of a 900 MHz reader (default 3)\n"
    "  --epc EPC               a tag's EPC (repeatable; replaces --tags)\n"
    "  --tag-margins DB,DB...  the highest output attenuation (SET_ATT_OUT) at which each\n"
    "                          tag is still read, one per tag (without --tags or --epc: as\n"
    "                          many tags); default: spread evenly from 4 to 18 dB\n"
    "  --cycle-ms MS           inventory cycle period (default 50)\n"
    "  --vary-signal           a tag's signal strength (word 6 of its answers) moves from\n"
    "                          read to read (without it: every read of a tag is the same text)\n"
    "  --reply-delay MS        delay before each reply (default 0)\n"
    "  --crlf / --no-crlf      CR LF after each answer (default on)\n"
    "  --split N               write each answer in N pieces\n"
    "  --split-gap MS          gap between the pieces\n"
    "  --pause-inside MS       one pause in the middle of each answer\n"
    "  --garbage               stray bytes before each answer\n"
    "  --silent                never answer\n"
    "  --hang-up-after N       close the pty after answering N requests\n"
    "  --stop-confirm-after K  the K-th EPC_STOP of a run ends it (default 1)\n"
    "  --no-stop-confirm       end runs without answering STOP_INVENTORY\n"
    "  --collection-ms MS      length of a 433 MHz collection (default 200)\n"
    "  --flood                 send inventory answers back to back from the start\n"
    "  --replay FILE           answer as a recorded session did: a traffic log (the window's\n"
    "                          or readerdesk-cli's --traffic-log) or readerdesk-cli monitor\n"
    "                          output; every request is told on standard error\n"
    "  --speed X               replay at X times the recorded pace (default 1; 0: as fast\n"
    "                          as the line takes the answers)\n"
    "  --loop                  replay the answers recorded apart from any request, and those\n"
    "                          of an inventory, again and again\n"
    "  --help                  this text\n";

int Usage(const std::string& error) {
    std::cerr << "readerdesk-sim: " << error << "\n\n" << kUsage;
    return 2;
}

bool ToInt(const std::string& text, int& value) {
    try {
        size_t used = 0;
        value = std::stoi(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

// "3,4,5": each a COM number from 1, added to numbers; false on a bad or repeated one.
bool AddComNumbers(const std::string& text, std::vector<int>& numbers) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        int n = 0;
        if (!ToInt(text.substr(from, comma - from), n) || n < 1)
            return false;
        for (int had : numbers)
            if (had == n)
                return false;
        numbers.push_back(n);
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

// "4,8,12": whole numbers of dB, apart by commas.
bool ToMargins(const std::string& text, std::vector<int>& margins) {
    margins.clear();
    size_t from = 0;
    while (true) {
        const size_t comma = text.find(',', from);
        int dB = 0;
        if (!ToInt(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from), dB)) {
            return false;
        }
        margins.push_back(dB);
        if (comma == std::string::npos) {
            return true;
        }
        from = comma + 1;
    }
}

bool ToDouble(const std::string& text, double& value) {
    try {
        size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    rd::sim::Options opt;
    bool flood = false;
    bool tagsGiven = false;
    std::vector<int> comNumbers;
    std::string replayFile;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](int& out) {
            std::string text;
            return value(text) && ToInt(text, out);
        };
        std::string text;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--port-dir") {
            ok = value(opt.portDir);
        } else if (a == "--com") {
            ok = value(text) && AddComNumbers(text, comNumbers);
        } else if (a == "--tcp") {
            ok = number(opt.tcpPort) && opt.tcpPort >= 0 && opt.tcpPort <= 65535;
        } else if (a == "--id") {
            ok = value(opt.identifier);
        } else if (a == "--tags") {
            ok = number(opt.tagCount) && opt.tagCount >= 0;
            tagsGiven = true;
        } else if (a == "--epc") {
            ok = value(text);
            opt.epcs.push_back(text);
        } else if (a == "--tag-margins") {
            ok = value(text) && ToMargins(text, opt.tagMargins);
        } else if (a == "--cycle-ms") {
            ok = number(opt.cyclePeriodMs) && opt.cyclePeriodMs >= 1;
        } else if (a == "--vary-signal") {
            opt.varySignal = true;
        } else if (a == "--reply-delay") {
            ok = number(opt.replyDelayMs) && opt.replyDelayMs >= 0;
        } else if (a == "--crlf") {
            opt.crlf = true;
        } else if (a == "--no-crlf") {
            opt.crlf = false;
        } else if (a == "--split") {
            ok = number(opt.splitParts) && opt.splitParts >= 1;
        } else if (a == "--split-gap") {
            ok = number(opt.splitGapMs) && opt.splitGapMs >= 0;
        } else if (a == "--pause-inside") {
            ok = number(opt.pauseInsideMs) && opt.pauseInsideMs >= 0;
        } else if (a == "--garbage") {
            opt.garbage = true;
        } else if (a == "--silent") {
            opt.silent = true;
        } else if (a == "--hang-up-after") {
            ok = number(opt.hangUpAfterRequests) && opt.hangUpAfterRequests >= 0;
        } else if (a == "--stop-confirm-after") {
            ok = number(opt.stopConfirmAfter) && opt.stopConfirmAfter >= 1;
        } else if (a == "--no-stop-confirm") {
            opt.confirmStop = false;
        } else if (a == "--collection-ms") {
            ok = number(opt.collectionMs) && opt.collectionMs >= 0;
        } else if (a == "--flood") {
            flood = true;
        } else if (a == "--replay") {
            ok = value(replayFile);
        } else if (a == "--speed") {
            ok = value(text) && ToDouble(text, opt.replayOptions.speed) && opt.replayOptions.speed >= 0;
        } else if (a == "--loop") {
            opt.replayOptions.loop = true;
        } else {
            return Usage("unknown option " + a);
        }
        if (!ok) {
            return Usage("bad or missing value for " + a);
        }
    }
    if (tagsGiven && !opt.epcs.empty()) {
        return Usage("--tags and --epc exclude each other");
    }
    if (!opt.tagMargins.empty()) {
        const size_t tags = !opt.epcs.empty() ? opt.epcs.size() : static_cast<size_t>(opt.tagCount);
        if (!tagsGiven && opt.epcs.empty()) {
            opt.tagCount = static_cast<int>(opt.tagMargins.size());
        } else if (opt.tagMargins.size() != tags) {
            return Usage("--tag-margins needs one margin per tag");
        }
    }
    if (comNumbers.empty())
        comNumbers.push_back(opt.comNumber);
    if (comNumbers.size() > 1 && opt.tcpPort > 0)
        return Usage("several readers cannot share one --tcp port: give --tcp 0");
    if (!replayFile.empty()) {
        try {
            opt.replay = std::make_shared<const rd::proto::Recording>(rd::proto::ReadRecording(replayFile));
        } catch (const rd::proto::RecordingError& e) {
            std::cerr << "readerdesk-sim: " << replayFile << ": " << e.what() << "\n";
            return 1;
        }
        if (const rd::proto::RecordedLine* reply = rd::proto::IdentifierReply(*opt.replay)) {
            opt.identifier = rd::proto::FrameWord(3, rd::proto::AnswerFrame(reply->bytes));
        }
        opt.replayOptions.log = [](const std::string& line) {
            std::cerr << "readerdesk-sim: " << line << std::endl;
        };
    }

    // Block the signals before the simulator's thread starts, so that it inherits the mask
    // and sigwait below receives them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    try {
        std::vector<std::unique_ptr<rd::sim::ReaderSim>> sims;
        for (int n : comNumbers) {
            rd::sim::Options o = opt;
            o.comNumber = n;
            sims.push_back(std::make_unique<rd::sim::ReaderSim>(o));
        }
        for (const auto& sim : sims) {
            std::cout << sim->comName() << " " << opt.identifier << " " << sim->slavePath();
            if (!sim->portPath().empty()) {
                std::cout << " " << sim->portPath();
            }
            if (!sim->tcpPortName().empty()) {
                std::cout << " " << sim->tcpPortName();
            }
            std::cout << "\n";
        }
        std::cout << std::flush;
        if (flood) {
            for (const auto& sim : sims)
                sim->startFlood();
        }
        int sig = 0;
        sigwait(&set, &sig);
        for (const auto& sim : sims)
            std::cerr << "readerdesk-sim: " << sim->comName() << ": " << sim->requestCount() << " requests, "
                      << sim->answersSent() << " answers\n";
    } catch (const std::exception& e) {
        std::cerr << "readerdesk-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
