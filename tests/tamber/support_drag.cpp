#include "support_drag.h"

#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

// Where the source's window sits: far from the windows under test, which the tests place near the top left.
const Point sourcePlace = {900, 700};

class Source {
public:
    explicit Source(std::vector<std::string> arguments) {
        std::vector<gchar *> argv;
        for (std::string &argument : arguments)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        started = g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                           nullptr, &pid, nullptr, &output, nullptr, nullptr);
        if (started)
            fcntl(output, F_SETFL, fcntl(output, F_GETFL) | O_NONBLOCK);
        else
            ADD_FAILURE() << "the drag source did not start: " << arguments[0];
    }
    ~Source() {
        if (!started)
            return;
        close(output);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        g_spawn_close_pid(pid);
    }

    // Waits, with this program's loop running, until the source has printed the word.
    bool said(const char *word, int timeoutMs = 15000) {
        return started && pumpUntil(
                              [&] {
                                  char buffer[256];
                                  ssize_t got;
                                  while ((got = read(output, buffer, sizeof buffer)) > 0)
                                      heard.append(buffer, size_t(got));
                                  return heard.find(std::string(word) + "\n") != std::string::npos;
                              },
                              timeoutMs);
    }

private:
    bool started = false;
    GPid pid = 0;
    gint output = -1;
    std::string heard;
};

bool drag(const char *kind, Point to, const std::vector<std::string> &items) {
    std::vector<std::string> arguments{TAMBER_DRAG_SOURCE, std::to_string(sourcePlace.x),
                                       std::to_string(sourcePlace.y), kind};
    arguments.insert(arguments.end(), items.begin(), items.end());
    Source source(arguments);
    if (!source.said("ready")) {
        ADD_FAILURE() << "the drag source did not show up";
        return false;
    }
    dragFromTo({sourcePlace.x + 40, sourcePlace.y + 30}, to, 30);
    bool ended = source.said("end");
    settle();
    return ended;
}

} // namespace

bool dropFiles(Point to, const std::vector<std::string> &uris) {
    return drag("files", to, uris);
}

bool dropText(Point to, const std::string &text) {
    return drag("text", to, {text});
}

std::string fileUri(const std::string &name) {
    gchar *uri = g_filename_to_uri(name.c_str(), nullptr, nullptr);
    std::string result = uri ? uri : "";
    g_free(uri);
    return result;
}

} // namespace support
