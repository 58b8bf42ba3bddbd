#include "media/WavePlayback.h"

#include "window/WindowContext.h"
#include "phone/EngineErrors.h"
#include "ui_MainForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>

namespace corvid {

WavePlayback::WavePlayback(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    QLineEdit* fields[] = {ui->EditPlayFileName1, ui->EditPlayFileName2, ui->EditPlayFileName3};
    for (int n = 1; n <= 3; ++n)
        fields[n - 1]->setText(QDir::toNativeSeparators(ctx.root.preRecorded() + QStringLiteral("/msg%1.wav").arg(n)));

    connect(ui->BtnSetPlayFile, &QPushButton::clicked, this, &WavePlayback::onBtnSetPlayFileClicked);
    connect(ui->BtnStartPlay1, &QPushButton::clicked, this, [this] { openMessage(1); });
    connect(ui->BtnStartPlay2, &QPushButton::clicked, this, [this] { openMessage(2); });
    connect(ui->BtnStartPlay3, &QPushButton::clicked, this, [this] { openMessage(3); });
    connect(ui->BtnStartPlay, &QPushButton::clicked, this, [this] { startPlaying(); });
    connect(ui->BtnPlayPause, &QPushButton::clicked, this, &WavePlayback::onBtnPlayPauseClicked);
    connect(ui->BtnPlayStop, &QPushButton::clicked, this, &WavePlayback::onBtnPlayStopClicked);
    connect(ui->BtnPlayForward, &QPushButton::clicked, this, &WavePlayback::onBtnPlayForwardClicked);
    connect(ui->BtnPlayRewind, &QPushButton::clicked, this, &WavePlayback::onBtnPlayRewindClicked);
}

int WavePlayback::playbackLine() const {
    return ctx.ui->ComboPlayWave->currentIndex();
}

bool WavePlayback::check(bool accepted) {
    if (!accepted) ShowEngineError(ctx);
    return accepted;
}

void WavePlayback::onBtnSetPlayFileClicked() {
    if (!ctx.engine) return;
    check(ctx.engine->PlayWaveOpen(playbackLine(), ctx.ui->EditPlayFileName->text()));
}

bool WavePlayback::openMessage(int n) {
    Ui::MainForm* ui = ctx.ui;
    QLineEdit* fields[] = {ui->EditPlayFileName1, ui->EditPlayFileName2, ui->EditPlayFileName3};
    if (!ctx.engine || n < 1 || n > 3) return false;
    return check(ctx.engine->PlayWaveOpen(playbackLine(), fields[n - 1]->text()));
}

bool WavePlayback::startPlaying() {
    if (!ctx.engine) return false;
    return check(ctx.engine->PlayWaveStart(playbackLine(), ctx.ui->CheckPlayListen->isChecked()));
}

void WavePlayback::onBtnPlayPauseClicked() {
    if (ctx.engine) check(ctx.engine->PlayWavePause(playbackLine()));
}

void WavePlayback::onBtnPlayStopClicked() {
    if (ctx.engine) check(ctx.engine->PlayWaveStop(playbackLine()));
}

// The skips do not clamp: the engine decides what a position outside the file means.
void WavePlayback::onBtnPlayForwardClicked() {
    if (!ctx.engine) return;
    const int line = playbackLine();
    check(ctx.engine->PlayWavePosition(line, ctx.engine->PlayWaveGetPosition(line) + SkipMs));
}

void WavePlayback::onBtnPlayRewindClicked() {
    if (!ctx.engine) return;
    const int line = playbackLine();
    check(ctx.engine->PlayWavePosition(line, ctx.engine->PlayWaveGetPosition(line) - SkipMs));
}

} // namespace corvid
