// The qpt tool's in-place form, qpt apply PATCH FILE, as a separate process: the same scenarios as the
// window, with the outcome read from its exit status and its line on stderr.

#include "tests/support/scenarios.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string qptPath() {
    const char *build = std::getenv("VOPRA_BINARY_DIR");
    return std::string(build ? build : ".") + "/tools/qpt/qpt";
}

class ToolDriver : public Driver {
public:
    Seen run(Operation operation, const std::string &first, const std::string &second) override {
        EXPECT_EQ(Operation::Apply, operation);
        int pipeEnds[2];
        EXPECT_EQ(0, pipe(pipeEnds));
        pid_t child = fork();
        if (child == 0) {
            // A test that dropped to an unprivileged user runs the tool wholly as that user, opened
            // before, since that user may not reach the build (a tree under /root).
            uid_t user = geteuid();
            if (user != getuid() && seteuid(getuid()) != 0)
                _exit(126);
            int tool = open(qptPath().c_str(), O_RDONLY | O_CLOEXEC);
            if (user != getuid() && setresuid(user, user, user) != 0)
                _exit(126);
            dup2(pipeEnds[1], STDERR_FILENO);
            close(pipeEnds[0]);
            const char *arguments[] = {"qpt", "apply", first.c_str(), second.c_str(), nullptr};
            fexecve(tool, const_cast<char **>(arguments), environ);
            _exit(127);
        }
        close(pipeEnds[1]);
        std::string said;
        char buffer[512];
        for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
            said.append(buffer, size_t(got));
        close(pipeEnds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        // One message, as the window shows it, after the tool's name; a failure then says why.
        EXPECT_EQ(0u, said.rfind("qpt: ", 0)) << said;
        EXPECT_EQ('\n', said.empty() ? 0 : said.back()) << said;
        std::string message = said.size() > 6 ? said.substr(5, said.size() - 6) : said;
        EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1) << WEXITSTATUS(status);
        bool failed = WEXITSTATUS(status) != 0;
        // A success's notes follow its text, a line each.
        size_t noted = message.find("\nqpt: ");
        std::string cause = !failed && noted != std::string::npos ? message.substr(noted + 6) : "";
        if (!cause.empty())
            message.resize(noted);
        for (size_t at; (at = cause.find("\nqpt: ")) != std::string::npos;)
            cause.erase(at + 1, 5);
        size_t colon = message.find(": ");
        if (failed && colon != std::string::npos) {
            cause = message.substr(colon + 2);
            message.resize(colon);
        }
        bool hidesCause = message == "Patching failed" || message == "Cannot open target file for writing" ||
                          message.find("does not exist") != std::string::npos;
        EXPECT_TRUE(!failed || !hidesCause || !cause.empty()) << said;
        return Seen{failed ? vopra::Outcome::Kind::Warning : vopra::Outcome::Kind::Information, message,
                    cause};
    }
};

std::vector<Scenario> inPlaceScenarios() {
    std::vector<Scenario> chosen;
    for (const Scenario &scenario : scenarios())
        if (scenario.operation == Operation::Apply && !scenario.needsSharedProcess)
            chosen.push_back(scenario);
    return chosen;
}

VOPRA_SCENARIO_TESTS(Tool, InPlace, through_the_tool, ToolDriver, inPlaceScenarios());

} // namespace
