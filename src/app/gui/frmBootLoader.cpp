#include "app/gui/frmBootLoader.h"

#include <QApplication>
#include <cstdio>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/core/StartUp.h"
#include "app/core/StopSignals.h"
#include "bootloader/Update.h"

namespace {

// Layout unit: 15 twips make one pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

QFont sansFont(qreal points, bool bold)
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

template <typename W>
W *place(W *w, const QRect &geometry, const QFont &font)
{
    w->setGeometry(geometry);
    w->setFont(font);
    return w;
}

template <typename W>
W *place(QWidget *parent, const char *name, const QRect &geometry, const QFont &font)
{
    auto *w = new W(parent);
    w->setObjectName(QLatin1String(name));
    return place(w, geometry, font);
}

}  // namespace

frmBootLoader::frmBootLoader(const Configuration &config, QWidget *parent)
    : QWidget(parent), fields(this, [this](bool enabled) { cmdProgram->setEnabled(enabled); }), m_config(config)
{
    setObjectName(QStringLiteral("frmBootLoader"));
    setWindowTitle(QStringLiteral("BootLoader Torvex-II"));
    setFixedSize(8865 / 15, 3615 / 15);
    const QFont windowFont = sansFont(8.25, false);
    const QFont boldFont = sansFont(8.25, true);
    setFont(windowFont);

    cmdSelFile = place<QPushButton>(this, "cmdSelFile", twips(360, 240, 1095, 375), boldFont);
    cmdSelFile->setText(QStringLiteral("Select File"));
    txtFile = place(fields.file, twips(1680, 240, 6855, 285), windowFont);
    Label2 = place(fields.versionCaption, twips(1800, 600, 735, 255), windowFont);
    lblFileVersion = place(fields.version, twips(2520, 600, 1215, 255), windowFont);
    Label3 = place(fields.sizeCaption, twips(3960, 600, 495, 255), windowFont);
    lblFileSize = place(fields.size, twips(4440, 600, 1095, 255), windowFont);
    lblLabVersion = place(fields.lab, twips(6120, 600, 1575, 255), boldFont);
    cmdProgram = place<QPushButton>(this, "cmdProgram", twips(360, 960, 2895, 495), boldFont);
    cmdProgram->setText(QStringLiteral("UPDATE PROGRAM"));
    cmdProgram->setEnabled(false);
    cmdExit = place<QPushButton>(this, "cmdExit", twips(7560, 960, 975, 495), boldFont);
    cmdExit->setText(QStringLiteral("EXIT"));
    txt1 = place<QPlainTextEdit>(this, "txt1", twips(360, 1560, 8175, 1815), sansFont(9.75, false));
    txt1->setReadOnly(true);
    txt1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txt1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    for (QPushButton *b : {cmdSelFile, cmdProgram, cmdExit}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    setTabOrder(txt1, cmdProgram);
    setTabOrder(cmdProgram, cmdSelFile);
    setTabOrder(cmdSelFile, txtFile);
    setTabOrder(txtFile, cmdExit);
    // The first focus would follow the order of creation, not the tab order.
    txt1->setFocus();

    connect(cmdSelFile, &QPushButton::clicked, this, &frmBootLoader::cmdSelFile_Click);
    connect(cmdProgram, &QPushButton::clicked, this, &frmBootLoader::cmdProgram_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmBootLoader::cmdExit_Click);

    // Redrawing the status box for every block of a fast update would cost
    // more than the block: redraw at most ten times a second, and once at the end.
    m_renderTimer.setSingleShot(true);
    m_renderTimer.setInterval(100);
    connect(&m_renderTimer, &QTimer::timeout, this, &frmBootLoader::renderStatus);
    m_sinceRender.start();
    m_textCursor = txt1->viewport()->cursor();
    m_fileCursor = txtFile->cursor();
}

bool frmBootLoader::Form_Load()
{
    const StartUpResult r = runStartUp(link, m_config);
    m_startUpFailure = r;
    if (!r.ok)
        return false;
    selection.ProgMode = m_config.progMode;
    setWindowTitle(windowCaption());
    return true;
}

void frmBootLoader::cmdSelFile_Click()
{
    ::cmdSelFile_Click(*this, selection);
}

void frmBootLoader::cmdProgram_Click()
{
    ::cmdProgram_Click(*this, link, selection);
    if (m_exitStatus != 0)
        endBySignal();
}

void frmBootLoader::stopBySignal(int signalNumber)
{
    m_exitStatus = 128 + signalNumber;
    link.requestStop();
    // A box or the file dialog would hold the sequence: answer it.
    if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
        dialog->reject();
    // While an update runs it ends at its next safe point and calls back here.
    if (cmdExit->isEnabled())
        endBySignal();
}

void frmBootLoader::endBySignal()
{
    link.com1.close();
    QCoreApplication::exit(m_exitStatus);
}

void frmBootLoader::cmdExit_Click()
{
    link.com1.close();
    close();
    QCoreApplication::quit();
}

void frmBootLoader::closeEvent(QCloseEvent *event)
{
    // While an update runs its exchanges still use this window's port and
    // controls: the title bar's close is refused like the disabled EXIT.
    if (!cmdExit->isEnabled()) {
        event->ignore();
        return;
    }
    link.com1.close();
    event->accept();
}

void frmBootLoader::setStatusText(const QString &text)
{
    m_status = text;
    if (m_sinceRender.elapsed() >= m_renderTimer.interval())
        renderStatus();
    else if (!m_renderTimer.isActive())
        m_renderTimer.start();
}

void frmBootLoader::renderStatus()
{
    m_renderTimer.stop();
    m_sinceRender.restart();
    QString shown = m_status;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    txt1->setPlainText(shown);
}

void frmBootLoader::setBusyPointer()
{
    // The text boxes carry cursors of their own, which would show through.
    setCursor(Qt::WaitCursor);
    txt1->viewport()->setCursor(Qt::WaitCursor);
    txtFile->setCursor(Qt::WaitCursor);
}

void frmBootLoader::lineWait(bool waiting)
{
    // The hourglass belongs to the erase on: this wait comes before it.
    if (waiting) {
        setBusyPointer();
        return;
    }
    setCursor(Qt::ArrowCursor);
    txt1->viewport()->setCursor(m_textCursor);
    txtFile->setCursor(m_fileCursor);
}

void frmBootLoader::DisableButtons()
{
    cmdProgram->setEnabled(false);
    cmdSelFile->setEnabled(false);
    cmdExit->setEnabled(false);
}

void frmBootLoader::EnableButtons()
{
    lineWait(false);
    cmdProgram->setEnabled(true);
    cmdSelFile->setEnabled(true);
    cmdExit->setEnabled(true);
    renderStatus();
}

void showStartUpFailure()
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(AppTitle),
                    QString::fromLatin1(StartUpFailureText), QMessageBox::Ok);
    box.exec();
}

int runBootLoader(const Configuration &config)
{
    frmBootLoader window(config);
    if (!window.Form_Load()) {
        std::fputs(qPrintable(startUpFailureNote(window.startUpFailure())), stderr);
        showStartUpFailure();
        return 1;
    }
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::stopRequested, &window, &frmBootLoader::stopBySignal);
    window.show();
    return QApplication::exec();
}

void frmBootLoader::stopDeferred(UpdateStage)
{
    // The window was told to stop by a signal; whoever sent it reads this.
    std::fputs("waiting for the indicator to finish erasing; signal again to quit now\n", stderr);
}
