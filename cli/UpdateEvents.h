#pragma once
// The update as the JSON events of FlashContract.h, each stamped with the
// seconds since the program started and handed to a sink (--json), and the
// end event that the update log (--log) keeps.

#include <QElapsedTimer>
#include <QJsonObject>
#include <functional>

#include "ImageInfo.h"
#include "bootloader/Update.h"

class UpdateEvents {
public:
    using Sink = std::function<void(const QJsonObject &)>;

    // sink: where events go, or {} when only the end event is wanted.
    explicit UpdateEvents(Sink sink);

    // The port as named ("comN" or a path, "" for the configured one) and the
    // image, for the end event of a run that never starts.
    void describeRun(const QString &port, const QString &image);
    // The port proven.
    void portReady(const QString &port, const QString &device);
    // The image facts, for the start event and the end event after it.
    void imageChecked(const ImageFacts &facts);

    void start();
    void stage(UpdateStage stage);
    void indicator(const IndicatorFacts &facts);
    void progress(qint64 sent, qint64 total, int retries);
    void status(const QString &line);
    void message(const QString &text, BoxIcon icon);
    void waiting(UpdateStage stage);
    // A suspect event on the line, as it happens.
    void doubt(const trust::Doubt &doubt);
    // The end event; exitCode decides the outcome word. Returns it without "t".
    QJsonObject end(int exitCode, const UpdateReport *report, const QString &error = {});

private:
    void send(QJsonObject event);

    Sink m_sink;
    QElapsedTimer m_clock;
    QJsonObject m_start;  // port, device, image facts
    QJsonValue m_indicator = QJsonValue::Null;
    QString m_message;    // the last box
};
