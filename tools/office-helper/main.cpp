// zrm-office-helper: reads requests from stdin and answers each with one line
// on stdout (line_protocol.h). Started by the program, one per protocol (often
// before the protocol is asked for, so the office is ready); it ends the
// office it started when told to quit, when its input closes, when it is
// terminated and when the program that started it dies.

#include "line_protocol.h"
#include "office.h"

#include <com/sun/star/uno/Exception.hpp>
#include <rtl/ustring.hxx>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_officeGroup = 0;

void EndWithOffice(int sig)
{
    if (g_officeGroup > 0)
        kill(-g_officeGroup, SIGKILL);
    _exit(128 + sig);
}

int Number(const std::vector<std::string>& f, std::size_t i)
{
    if (i >= f.size())
        throw OfficeError("missing argument " + std::to_string(i));
    std::size_t used = 0;
    int v = 0;
    try {
        v = std::stoi(f[i], &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != f[i].size())
        throw OfficeError("not a number: " + f[i]);
    return v;
}

const std::string& Text(const std::vector<std::string>& f, std::size_t i)
{
    if (i >= f.size())
        throw OfficeError("missing argument " + std::to_string(i));
    return f[i];
}

constexpr int kQuitTimeoutMs = 15000;

FILE* g_replies = nullptr;

void Send(const std::vector<std::string>& fields)
{
    std::fprintf(g_replies, "%s\n", JoinFields(fields).c_str());
    std::fflush(g_replies);
}

// One request; returns the reply's result fields.
std::vector<std::string> Run(Office& office, const std::vector<std::string>& f)
{
    const std::string& cmd = f[0];
    if (cmd == "start") {
        const int timeoutMs = f.size() > 3 ? Number(f, 3) : 60000;
        // The program hears of the office's process group at once, so that
        // it can end the office even if this helper dies while starting it.
        const pid_t group = office.Start(Text(f, 1), Text(f, 2), timeoutMs, [](pid_t g) {
            g_officeGroup = g;
            Send({"office", std::to_string(g)});
        });
        return {std::to_string(group)};
    }
    if (cmd == "open") {
        office.Open(Text(f, 1));
        return {};
    }
    if (cmd == "sheet") {
        office.SelectSheet(Number(f, 1));
        return {};
    }
    if (cmd == "range")
        return {std::to_string(office.Range(Text(f, 1)))};
    if (cmd == "cell")
        return {std::to_string(office.Cell(Number(f, 1), Number(f, 2)))};
    if (cmd == "set") {
        office.Set(Number(f, 1), Text(f, 2));
        return {};
    }
    if (cmd == "text") {
        office.SetText(Number(f, 1), Text(f, 2));
        return {};
    }
    if (cmd == "copyrows") {
        office.CopyRows(Number(f, 1), Number(f, 2));
        return {};
    }
    if (cmd == "insertrows") {
        office.InsertRows(Number(f, 1), Number(f, 2));
        return {};
    }
    if (cmd == "save") {
        office.Save();
        return {};
    }
    if (cmd == "close") {
        office.CloseWithoutSaving();
        return {};
    }
    if (cmd == "quit") {
        office.CloseWithoutSaving();
        office.Quit(kQuitTimeoutMs);
        g_officeGroup = 0;
        return {};
    }
    throw OfficeError("unknown request " + cmd);
}

}  // namespace

int main(int argc, char** argv)
{
    // The user's locale, so that its character set is known (office.cpp).
    std::setlocale(LC_ALL, "");
    std::string programDir = ZRM_OFFICE_PROGRAM_DIR;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--office-dir") == 0 && i + 1 < argc) {
            programDir = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--office-dir DIR]  (requests on stdin)\n", argv[0]);
            return 2;
        }
    }

    // Replies get a descriptor of their own; anything else written to
    // stdout by libraries lands on stderr instead of in the reply stream.
    const int replyFd = dup(1);
    dup2(2, 1);
    g_replies = fdopen(replyFd, "w");
    if (!g_replies)
        return 2;

    struct sigaction sa {};
    sa.sa_handler = EndWithOffice;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // The program killed while the office starts (its closed pipe is read
    // only between requests): end at once, and the office with us.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        EndWithOffice(SIGTERM);

    Office office(programDir);
    std::string line;
    bool quit = false;
    while (!quit && std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> f = SplitFields(line);
        std::vector<std::string> reply;
        try {
            reply = Run(office, f);
            reply.insert(reply.begin(), "ok");
        } catch (const OfficeError& e) {
            reply = {e.unavailable() ? "unavailable" : "error", e.what()};
        } catch (const com::sun::star::uno::Exception& e) {
            reply = {"error", rtl::OUStringToOString(e.Message, RTL_TEXTENCODING_UTF8).getStr()};
            if (reply[1].empty())
                reply[1] = "the office refused " + f[0];
        } catch (const std::exception& e) {
            reply = {"error", e.what()};
        }
        quit = f[0] == "quit";
        Send(reply);
    }

    // The program has gone or asked to quit: nothing unsaved is kept.
    if (!quit) {
        try {
            office.CloseWithoutSaving();
        } catch (...) {
        }
        try {
            office.Quit(kQuitTimeoutMs);
        } catch (...) {
        }
    }
    g_officeGroup = 0;
    std::fflush(g_replies);
    // The UNO runtime's own teardown can wait on a bridge whose far end is
    // gone; there is nothing left to release.
    _exit(0);
}
