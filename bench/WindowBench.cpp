// The window's speed against the command line's, on the same take in the same run: the real
// controller, offscreen, converts the take as the user would have it (added, destination chosen,
// Start), while a probe stands for the user's input and measures how long the event loop keeps
// it waiting.
//
//   morvex_bench_window TAKE OUTPUT_FOLDER MORVEX_SPLIT [ROUNDS] [TYPE] [BUDGET_MS]
//
// Each round splits the take once with morvex-split and once in the window, outputs removed in
// between. Prints the median times, the window's throughput as a share of the command line's,
// and how long the probe's events waited. Each round then starts the run twice more and, a
// second in (at 30 % on a fast device), confirms Stop, then Exit: how long from the
// confirmation until the run is over, and until the window and its engine are gone.
//
// A slow device: preload the fault shim (bench/libmorvex_bench_fault_shim.so) with its write
// rate in bytes per second in MORVEX_FAULT_WRITE_RATE; morvex-split inherits both.
#include "MorvexController.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>
#include <QTimer>

#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kProbeIntervalMs = 2;
constexpr int kDefaultRounds = 3;
constexpr int kHeldLimitMs = 50;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kBytesPerMegabyte = 1e6;
constexpr int kInterruptAfterMs = 1000;
constexpr double kInterruptAtFraction = 0.3; // on a fast device, well before the end

// Answers the save panel with the output base, and the stop and exit questions with OK when a
// run is to be interrupted (noting when); no other dialog is expected.
struct BenchServices final : morvex::ToolkitServices {
    QString base;
    bool confirm = false;
    QElapsedTimer confirmed;
    morvex::PanelAnswer runOpenPanel(QWidget*, const morvex::OpenPanelOptions&) override {
        return {};
    }
    morvex::PanelAnswer runSavePanel(QWidget*, const morvex::SavePanelOptions&) override {
        return {morvex::kPanelChosen, QFileInfo(base).path(), {base}};
    }
    int runAlert(QWidget*, const morvex::AlertOptions& options) override {
        if (confirm) {
            confirmed.start();
            return morvex::kAlertFirstButton;
        }
        std::fprintf(stderr, "unexpected alert: %s\n", qPrintable(options.messageText));
        return morvex::kAlertSecondButton;
    }
};

int TypeIndex(const QString& type) {
    if (type == QLatin1String("pairs"))
        return morvex::kTypePairs;
    return type == QLatin1String("all") ? morvex::kTypeAll : morvex::kTypeMono;
}

void EmptyFolder(const QString& folder) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

// How a run in the window ends: converted whole, stopped, or the window closed during it.
enum class RunEnd { Done, Stop, Exit };

struct WindowRun {
    qint64 ms = 0;
    std::vector<qint64> delaysMs; // how long each probe event waited for the event loop
    bool ok = false;
    qint64 endMs = -1; // from confirming Stop or Exit until the run or the window is gone
};

// Stands for the user: another thread sends an event (a byte down a pipe, as the display server's
// events come down a socket) every few milliseconds with the time it was sent; the window's
// event loop notes how long each one waited.
class EventProbe {
public:
    explicit EventProbe(std::vector<qint64>& delaysMs) : m_DelaysMs(delaysMs) {
        if (::pipe(m_Pipe) != 0)
            std::abort();
        m_Notifier = std::make_unique<QSocketNotifier>(m_Pipe[0], QSocketNotifier::Read);
        QObject::connect(m_Notifier.get(), &QSocketNotifier::activated, [this] { Receive(); });
        m_Sender = std::thread([this] { Send(); });
    }
    ~EventProbe() {
        m_Stop = true;
        m_Sender.join();
        ::close(m_Pipe[0]);
        ::close(m_Pipe[1]);
    }
    EventProbe(const EventProbe&) = delete;
    EventProbe& operator=(const EventProbe&) = delete;

private:
    using Clock = std::chrono::steady_clock;
    void Send() {
        while (!m_Stop) {
            // One event in flight at a time, so that each measures a wait of its own.
            if (!m_InFlight.exchange(true)) {
                const qint64 sent = Clock::now().time_since_epoch().count();
                if (::write(m_Pipe[1], &sent, sizeof sent) != sizeof sent)
                    std::abort();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kProbeIntervalMs));
        }
    }
    void Receive() {
        qint64 sent = 0;
        if (::read(m_Pipe[0], &sent, sizeof sent) != sizeof sent)
            return;
        const qint64 waited = Clock::now().time_since_epoch().count() - sent;
        m_DelaysMs.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::duration(waited)).count());
        m_InFlight = false;
    }

    std::vector<qint64>& m_DelaysMs;
    int m_Pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_Notifier;
    std::atomic<bool> m_InFlight{false};
    std::atomic<bool> m_Stop{false};
    std::thread m_Sender;
};

WindowRun RunWindow(const QString& take, const QString& folder, const QString& type, int budgetMs,
                    RunEnd end = RunEnd::Done) {
    BenchServices services;
    services.base = folder + QStringLiteral("/w");
    auto controller = std::make_unique<MorvexController>(services);
    controller->setStepBudgetMs(budgetMs);
    controller->openFiles({take});
    controller->setDestination();
    if (auto* setType = controller->mainWindow()->findChild<QComboBox*>(QStringLiteral("setType")))
        setType->setCurrentIndex(TypeIndex(type));
    controller->typeChanged();

    WindowRun run;
    QEventLoop loop;
    QElapsedTimer clock;
    // Stop: the Stop button, confirmed; the run is over at the tick after. Exit: the window
    // closed, confirmed; it is gone when the controller, and the engine with it, is.
    const auto interrupt = [&] {
        services.confirm = true;
        if (end == RunEnd::Stop) {
            controller->startConversion();
            return;
        }
        controller->mainWindow()->close();
        controller.reset();
        run.endMs = services.confirmed.elapsed();
        loop.quit();
    };
    // Looks now and then whether the run is over, or is to be interrupted: a second in, or
    // sooner on a fast device.
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (controller == nullptr || !controller->isConversionRunning()) {
            loop.quit();
            return;
        }
        double fraction = 0.0;
        controller->worker().GetConversionInfo(&fraction, nullptr);
        if (end != RunEnd::Done && !services.confirm &&
            (clock.elapsed() >= kInterruptAfterMs || fraction >= kInterruptAtFraction))
            interrupt();
    });
    clock.start();
    {
        EventProbe probe(run.delaysMs);
        controller->startConversion();
        done.start(kProbeIntervalMs);
        loop.exec();
    }
    run.ms = clock.elapsed();
    if (end == RunEnd::Stop)
        run.endMs = services.confirmed.elapsed();
    run.ok = end == RunEnd::Done ? controller->worker().GetEntryState(0) == morvex::kStateDone
                                 : run.endMs >= 0 && QDir(folder).isEmpty();
    return run;
}

qint64 RunCommandLine(const QString& split, const QString& take, const QString& folder,
                      const QString& type) {
    QElapsedTimer clock;
    clock.start();
    const int code = QProcess::execute(
        split, {QStringLiteral("-q"), QStringLiteral("-t"), type, take, folder + "/c"});
    return code == 0 ? clock.elapsed() : -1;
}

qint64 Median(std::vector<qint64> values) {
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s TAKE OUTPUT_FOLDER MORVEX_SPLIT [ROUNDS] [TYPE]\n",
                     argv[0]);
        return 2;
    }
    const QString take = QFileInfo(args[1]).absoluteFilePath();
    const QString folder = QFileInfo(args[2]).absoluteFilePath();
    const QString split = args[3];
    const int rounds = args.size() > 4 ? args[4].toInt() : kDefaultRounds;
    const QString type = args.size() > 5 ? args[5] : QStringLiteral("mono");
    const int budgetMs = args.size() > 6 ? args[6].toInt() : RunPacer::kStepBudgetMs;

    std::vector<qint64> cli, window, delays, stops, exits;
    for (int round = 0; round < rounds; ++round) {
        EmptyFolder(folder);
        const qint64 cliMs = RunCommandLine(split, take, folder, type);
        EmptyFolder(folder);
        const WindowRun run = RunWindow(take, folder, type, budgetMs);
        if (cliMs < 0 || !run.ok) {
            std::fprintf(stderr, "round %d failed (command line %lld ms, window %s)\n", round + 1,
                         static_cast<long long>(cliMs), run.ok ? "done" : "not done");
            return 1;
        }
        cli.push_back(cliMs);
        window.push_back(run.ms);
        delays.insert(delays.end(), run.delaysMs.begin(), run.delaysMs.end());
        EmptyFolder(folder);
        const WindowRun stop = RunWindow(take, folder, type, budgetMs, RunEnd::Stop);
        EmptyFolder(folder);
        const WindowRun exit = RunWindow(take, folder, type, budgetMs, RunEnd::Exit);
        if (!stop.ok || !exit.ok) {
            std::fprintf(
                stderr, "round %d: a stopped (%s) or closed (%s) run left outputs or did not end\n",
                round + 1, stop.ok ? "ok" : "failed", exit.ok ? "ok" : "failed");
            return 1;
        }
        stops.push_back(stop.endMs);
        exits.push_back(exit.endMs);
        delays.insert(delays.end(), stop.delaysMs.begin(), stop.delaysMs.end());
        std::fprintf(stderr,
                     "round %d: command line %lld ms, window %lld ms, longest wait %lld ms, "
                     "stop %lld ms, exit %lld ms\n",
                     round + 1, static_cast<long long>(cliMs), static_cast<long long>(run.ms),
                     *std::max_element(run.delaysMs.begin(), run.delaysMs.end()),
                     static_cast<long long>(stop.endMs), static_cast<long long>(exit.endMs));
    }
    EmptyFolder(folder);
    const double bytes = static_cast<double>(QFileInfo(take).size());
    const auto rate = [&](qint64 ms) {
        return bytes / kBytesPerMegabyte / (static_cast<double>(ms) / kMillisecondsPerSecond);
    };
    const qint64 cliMedian = Median(cli);
    const qint64 windowMedian = Median(window);
    std::sort(delays.begin(), delays.end());
    const auto over = std::count_if(delays.begin(), delays.end(),
                                    [](qint64 delay) { return delay > kHeldLimitMs; });
    std::printf(
        "| take | type | budget | rounds | command line | window | window / command line "
        "| event waited: median, 99th percentile, longest | events that waited over %d ms |\n"
        "|---|---|---:|---:|---:|---:|---:|---:|---:|\n",
        kHeldLimitMs);
    std::printf("| %.2f GB | %s | %d ms | %d | %lld ms (%.0f MB/s) | %lld ms (%.0f MB/s) | %.0f %% "
                "| %lld / %lld / %lld ms | %lld of %zu |\n",
                bytes / 1e9, qPrintable(type), budgetMs, rounds, static_cast<long long>(cliMedian),
                rate(cliMedian), static_cast<long long>(windowMedian), rate(windowMedian),
                100.0 * static_cast<double>(cliMedian) / static_cast<double>(windowMedian),
                static_cast<long long>(delays[delays.size() / 2]),
                static_cast<long long>(delays[delays.size() * 99 / 100]),
                static_cast<long long>(delays.back()), static_cast<long long>(over), delays.size());
    std::printf("\nfrom confirming to the run over (Stop) / the window gone (Exit), median and "
                "longest: stop %lld / %lld ms, exit %lld / %lld ms\n",
                static_cast<long long>(Median(stops)),
                static_cast<long long>(*std::max_element(stops.begin(), stops.end())),
                static_cast<long long>(Median(exits)),
                static_cast<long long>(*std::max_element(exits.begin(), exits.end())));
    return 0;
}
