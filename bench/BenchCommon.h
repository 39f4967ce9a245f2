#pragma once
// Shared pieces of the benchmarks: clocks, CPU of the calling thread, and a
// window stand-in that notes when the block phase starts and ends.

#include <QElapsedTimer>
#include <QString>
#include <sys/resource.h>

#include "bootloader/UpdateView.h"

inline double threadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Marks the first and the last progress line of the block phase.
struct PhaseClock {
    QElapsedTimer wall;
    qint64 firstNs = -1, lastNs = -1;
    double cpuAtFirst = 0, cpuAtLast = 0;
    void onStatus(const QString &text)
    {
        if (!text.endsWith(QLatin1Char(')')))
            return;
        const int open = int(text.lastIndexOf(QLatin1Char('(')));
        const int slash = int(text.lastIndexOf(QLatin1Char('/')));
        if (open < 0 || slash < open)
            return;
        const QString sent = text.mid(open + 1, slash - open - 1);
        const QString total = text.mid(slash + 1, text.size() - slash - 2);
        if (sent == QLatin1String("0") && firstNs < 0) {
            firstNs = wall.nsecsElapsed();
            cpuAtFirst = threadCpuSeconds();
        }
        if (sent == total) {
            lastNs = wall.nsecsElapsed();
            cpuAtLast = threadCpuSeconds();
        }
    }
    double seconds() const { return double(lastNs - firstNs) / 1e9; }
    double cpu() const { return cpuAtLast - cpuAtFirst; }
};

class NullView : public UpdateView {
public:
    PhaseClock clock;
    QString status, file, size;
    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
    void showMessage(const QString &text, BoxIcon) override { messages << text; }
    QString fileText() const override { return file; }
    void setFileText(const QString &p) override { file = p; }
    QString fileSizeText() const override { return size; }
    void setFileSizeText(const QString &t) override { size = t; }
    void setFileVersionText(const QString &) override {}
    void setLabVisible(bool) override {}
    void setProgramEnabled(bool) override {}
    QString statusText() const override { return status; }
    void setStatusText(const QString &t) override
    {
        status = t;
        clock.onStatus(t);
    }
    void setBusyPointer() override {}
    void DisableButtons() override {}
    void EnableButtons() override {}
    QStringList messages;
};
