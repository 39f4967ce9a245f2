#pragma once
// The update as events, one JSON object per line, for programs that drive
// torvex-flash (--json), and the summary of the update for the update log
// (--log). Every call is also passed on to the human view, if any.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTimer>
#include <functional>

#include "StatusLines.h"
#include "bootloader/Update.h"

class JsonView : public UpdateView {
public:
    using Sink = std::function<void(const QJsonObject &)>;

    // echo: the view a person reads, or nullptr; sink: where events go, or {}.
    JsonView(UpdateView *echo, Sink sink);

    // The port as named ("comN" or a path, "" for the configured one) and the
    // image, for the end event of a run that never starts.
    void describeRun(const QString &port, const QString &image);
    // The port proven; the "start" event follows once the update has read
    // the image (imageTaken).
    void started(const QString &port, const QString &device);
    // The "end" event; exitCode decides the outcome word. Returns the event.
    QJsonObject finished(int exitCode, const UpdateReport *report, const QString &error = {});

    QString fileVersion() const { return m_version; }
    bool labBuild() const { return m_lab; }

    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
    void showMessage(const QString &text, BoxIcon icon) override;
    QString fileText() const override { return m_file; }
    void setFileText(const QString &path) override;
    QString fileSizeText() const override { return m_size; }
    void setFileSizeText(const QString &text) override;
    void setFileVersionText(const QString &text) override;
    void setLabVisible(bool visible) override;
    void setProgramEnabled(bool) override {}

    QString statusText() const override { return m_lines.status(); }
    void setStatusText(const QString &text) override;
    void setBusyPointer() override {}
    void DisableButtons() override {}
    void EnableButtons() override;

    void stageStarted(UpdateStage stage) override;
    void indicatorIdentified(const IndicatorFacts &facts) override;
    void blockAcknowledged(qint64 sent, qint64 total, int retries) override;
    void imageTaken(const QByteArray &image) override;
    void stopDeferred(UpdateStage stage) override;

private:
    void send(QJsonObject event);
    void cutPartial();

    UpdateView *m_echo;
    Sink m_sink;
    QElapsedTimer m_clock;
    QString m_file, m_size = QStringLiteral("----------"), m_version;
    bool m_lab = false;
    StatusLines m_lines;
    QJsonObject m_start;   // port, device, image facts
    QJsonValue m_indicator = QJsonValue::Null;
    QString m_message;     // the last box
};

// The sink of --json: one compact UTF-8 line per event on standard output.
// Progress lines are held back up to 50 ms and go out together, so that a
// program watching many updates is woken a few times a second per update
// rather than once per block; any other event goes out at once with them.
class JsonLines {
public:
    JsonLines();
    ~JsonLines() { flush(); }
    void write(const QJsonObject &event);
    void flush();

private:
    QByteArray m_pending;
    QTimer m_timer;
};

// "ok", "image-refused", "port-unusable", ... for an exit status.
QString outcomeWord(int exitCode);
