#include "PulseTestServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(5);
constexpr auto kPoll = std::chrono::milliseconds(20);

// The full path of a program on PATH, or empty.
std::string FindProgram(const std::string& program) {
  const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): nothing sets it
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string d;
  while (std::getline(dirs, d, ':')) {
    std::string p = d + "/" + program;
    if (!d.empty() && ::access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

// Starts argv[0] (looked up on PATH) with argv and this process's environment plus env,
// standard output to out (or /dev/null) and standard error to err (or /dev/null). The
// child gets SIGTERM when this process ends. Everything is prepared before the fork:
// the child of a process with threads may only make system calls.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& out, const std::string& err) {
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The additions first: a name given twice is read from its first entry.
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  const std::string outPath = out.empty() ? "/dev/null" : out;
  const std::string errPath = err.empty() ? "/dev/null" : err;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(127);
  const int i = ::open("/dev/null", O_RDONLY);
  const int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(i, 0);
  ::dup2(o, 1);
  ::dup2(e, 2);
  ::execve(program.c_str(), args.data(), envp.data());
  ::_exit(127);
}

// Sends sig, then waits up to kStopWait for the child, then kills it.
void EndChild(pid_t pid, int sig) {
  if (pid <= 0) return;
  ::kill(pid, sig);
  const auto until = Clock::now() + kStopWait;
  while (Clock::now() < until) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(kPoll);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

std::string ReadText(const std::filesystem::path& p) {
  std::ifstream f(p);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

bool PulseTestServer::IsInstalled() {
  return !FindProgram("pulseaudio").empty() && !FindProgram("parec").empty() &&
         !FindProgram("pactl").empty();
}

PulseTestServer::PulseTestServer() {
  std::string t = (std::filesystem::temp_directory_path() / "zuroka-pulse-XXXXXX").string();
  if (::mkdtemp(t.data()) == nullptr) {
    error = "no temporary folder for the daemon";
    return;
  }
  dir = t;
  std::filesystem::create_directories(dir / "runtime");
  std::filesystem::create_directories(dir / "state");
  const std::string d = dir.string();
  // As root the daemon warns that it is meant for a user session; it runs all the same.
  const std::vector<std::string> pulseaudio = {
      "pulseaudio",
      "-n",
      "--daemonize=no",
      "--exit-idle-time=-1",
      "--use-pid-file=no",
      "--log-target=stderr",
      "--log-level=error",
      std::string("--load=module-null-sink sink_name=") + kSink + " rate=" + std::to_string(kRate) +
          " format=float32le channels=2",
      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + d + "/native",
      "--load=module-suspend-on-idle timeout=1"};
  daemon = Spawn(
      pulseaudio,
      {"HOME=" + d, "XDG_RUNTIME_DIR=" + d + "/runtime", "PULSE_RUNTIME_PATH=" + d + "/runtime",
       "PULSE_STATE_PATH=" + d + "/state", "XDG_CONFIG_HOME=" + d + "/state"},
      "", d + "/log");
  if (daemon < 0) {
    error = "fork failed";
    return;
  }
  const auto until = Clock::now() + kStartWait;
  while (Clock::now() < until) {
    if (::waitpid(daemon, nullptr, WNOHANG) == daemon) {
      daemon = -1;
      error = "pulseaudio exited at start: " + ReadText(dir / "log");
      return;
    }
    if (std::filesystem::exists(dir / "native") &&
        Pactl({"get-default-sink"}).find(kSink) != std::string::npos) {
      up = true;
      return;
    }
    std::this_thread::sleep_for(kPoll);
  }
  error = "pulseaudio did not answer within 10 s: " + ReadText(dir / "log");
}

PulseTestServer::~PulseTestServer() {
  EndChild(daemon, SIGTERM);
  std::error_code ec;
  if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

std::string PulseTestServer::GetServer() const { return "unix:" + (dir / "native").string(); }

void PulseTestServer::UseInThisProcess() const {
  // Before the program's audio threads start, which read it when they connect.
  ::setenv("PULSE_SERVER", GetServer().c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
}

std::string PulseTestServer::Pactl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"pactl", "--server=" + GetServer()};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::filesystem::path out = dir / "pactl.out";
  const pid_t pid = Spawn(argv, {}, out.string(), "");
  if (pid < 0) return {};
  int status = 0;
  const auto until = Clock::now() + kStopWait;
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    if (Clock::now() > until) {
      EndChild(pid, SIGKILL);
      return {};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return ReadText(out);
}

double PulseTestServer::GetCpuSeconds() const {
  // Fields 14 and 15 of /proc/PID/stat, after the command name in parentheses.
  const std::string stat = ReadText("/proc/" + std::to_string(daemon) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

PulseTestServer::Recording::Recording(const PulseTestServer& server)
    : file(server.dir / ("monitor-" + std::to_string(Clock::now().time_since_epoch().count()))) {
  recorder =
      Spawn({"parec", "--server=" + server.GetServer(),
             std::string("--device=") + kSink + ".monitor", "--format=float32le",
             "--rate=" + std::to_string(kRate), "--channels=2", "--raw", "--latency-msec=20"},
            {}, file.string(), file.string() + ".log");
}

PulseTestServer::Recording::~Recording() {
  EndChild(recorder, SIGINT);
  std::error_code ec;
  std::filesystem::remove(file, ec);
  std::filesystem::remove(file.string() + ".log", ec);
}

bool PulseTestServer::Recording::WaitForSound(double seconds) const {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  std::error_code ec;
  while (Clock::now() < until) {
    if (std::filesystem::file_size(file, ec) > 0 && !ec) return true;
    std::this_thread::sleep_for(kPoll);
  }
  return false;
}

std::string PulseTestServer::Recording::GetLog() const { return ReadText(file.string() + ".log"); }

std::vector<float> PulseTestServer::Recording::Stop() {
  EndChild(recorder, SIGINT);
  recorder = -1;
  std::ifstream f(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float) / 2 * 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

double ProcessCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
