// zrm-meter-sim as a separate process: command line, the link, signals and
// the commands on its standard input.

#include "line_client.h"

#include "frames.h"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace testline;

namespace {

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool ValidFrame(const Bytes& b)
{
    return !b.empty() && b[0] == b.size() && CheckFrameChecksum(b.data(), int(b.size()));
}

// The program with its standard input on a pipe and its output in files.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args, const TempDir& dir)
        : m_out(dir / "stdout.txt"), m_err(dir / "stderr.txt")
    {
        int in[2];
        if (pipe(in) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        posix_spawn_file_actions_addopen(&fa, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        args.insert(args.begin(), ZRM_METER_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, ZRM_METER_SIM_PATH, &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        m_stdin = in[1];
        if (rc != 0)
            throw std::runtime_error("posix_spawn failed");
    }
    ~SimProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_stdin >= 0)
            ::close(m_stdin);
    }

    void Input(const std::string& line) { ASSERT_EQ(::write(m_stdin, line.data(), line.size()), ssize_t(line.size())); }

    // Exit status, or nothing if it has not ended within the timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout = 3000ms)
    {
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

    void Signal(int sig) { kill(m_pid, sig); }

    std::string Out() const { return Read(m_out); }
    std::string Err() const { return Read(m_err); }

private:
    static std::string Read(const std::string& path)
    {
        std::string s;
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                s.append(buf, n);
            std::fclose(f);
        }
        return s;
    }

    pid_t m_pid = -1;
    int m_stdin = -1;
    std::string m_out, m_err;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms)
{
    const auto end = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class ProgramStop : public ::testing::TestWithParam<int> {};

TEST_P(ProgramStop, AnswersThenRemovesItsLinkOnTheSignal)
{
    TempDir dir;
    const std::string link = dir / "ttyZRM";
    SimProcess sim({"--link", link, "--meter", "777:2", "--flow", "777:1.5", "--counter", "777:4294967295"}, dir);
    ASSERT_TRUE(WaitFor([&] { return Exists(link); })) << sim.Err();
    {
        LineClient client(link);
        ASSERT_TRUE(client.IsOpen());
        Bytes r = client.Ask(BuildRequest(0, kCmdIdentify));
        ASSERT_TRUE(ValidFrame(r));
        EXPECT_EQ(ReadU16LE(&r[2]), 777);
        r = client.Ask(BuildRequest(777, kCmdReadState));
        ASSERT_TRUE(ValidFrame(r));
        const DeviceState s = DecodeDeviceState(&r[kStateOffset]);
        EXPECT_EQ(s.FlowRate, 1.5f);
        EXPECT_EQ(s.VolumeCounter, 4294967295u);
    }
    EXPECT_NE(sim.Out().find(link), std::string::npos) << "announces the link: " << sim.Out();
    sim.Signal(GetParam());
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(Exists(link));
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramStop, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& param_info) { return param_info.param == SIGTERM ? "SIGTERM" : "SIGINT"; });

TEST(Program, FaultsFromTheCommandLine)
{
    TempDir dir;
    const std::string link = dir / "ttyZRM";
    SimProcess sim({"--link", link, "--meter", "5:0", "--meter", "6:9", "--fault", "5:badsum", "--blocked", "6"}, dir);
    ASSERT_TRUE(WaitFor([&] { return Exists(link); })) << sim.Err();
    LineClient client(link);
    Bytes r = client.Ask(BuildRequest(5, kCmdIdentify));
    ASSERT_EQ(r.size(), 6u);
    EXPECT_FALSE(CheckFrameChecksum(r.data(), 6));
    r = client.Ask(BuildWriteConfigFrame(6, 6, DeviceConfig{}));
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(r[kWriteStatusOffset], kWriteStatusBlocked);
}

TEST(Program, CommandsOnStandardInput)
{
    TempDir dir;
    const std::string link = dir / "ttyZRM";
    SimProcess sim({"--link", link, "--meter", "5:0"}, dir);
    ASSERT_TRUE(WaitFor([&] { return Exists(link); })) << sim.Err();

    sim.Input("fault 5:silent\n");
    ASSERT_TRUE(WaitFor([&] { return sim.Out().find("ok") != std::string::npos; })) << sim.Err();
    {
        LineClient client(link);
        client.Send(BuildRequest(5, kCmdIdentify));
        EXPECT_TRUE(client.ReadAll(150ms, 150ms).empty());
    }
    sim.Input("unplug\n");
    EXPECT_TRUE(WaitFor([&] { return !Exists(link); }));
    sim.Input("clear 5\nreplug\n");
    ASSERT_TRUE(WaitFor([&] { return Exists(link); }));
    {
        LineClient client(link);
        EXPECT_TRUE(ValidFrame(client.Ask(BuildRequest(5, kCmdIdentify))));
    }
    sim.Input("quit\n");
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(Exists(link));
}

TEST(Program, HelpAndUsageErrors)
{
    TempDir dir;
    {
        SimProcess sim({"--help"}, dir);
        EXPECT_EQ(sim.Wait(), 0);
        for (const char* option : {"--link", "--meter", "--flow", "--fault", "--pace", "--blocked", "split"})
            EXPECT_NE(sim.Out().find(option), std::string::npos) << option;
    }
    const std::vector<std::vector<std::string>> bad = {
        {"--meter", "1:0"},                                   // no link
        {"--link", dir / "x"},                                // no meter
        {"--link", dir / "x", "--meter", "0:1"},              // serial 0
        {"--link", dir / "x", "--meter", "1:10"},             // diameter index
        {"--link", dir / "x", "--meter", "1:0", "--fault", "1:melt"},
        {"--link", dir / "x", "--meter", "1:0", "--flow", "2:1"},  // no such meter
        {"--link", dir / "x", "--meter", "1:0", "--bogus"},
    };
    for (const auto& args : bad) {
        SimProcess sim(args, dir);
        EXPECT_EQ(sim.Wait(), 2) << args.back();
        EXPECT_FALSE(sim.Err().empty());
        EXPECT_FALSE(Exists(dir / "x"));
    }
}

}  // namespace
