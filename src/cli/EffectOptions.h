#pragma once
// The effect and watermark options of kelto-cli (frame, convert): they fill the effect and
// watermark values of a job as the watermark dialog would.
//
//   --brightness N (0 ... 512)   --contrast N (-100 ... 100)   --saturation N (0 ... 512)
//   --exposure N (-255 ... 512)  --process-text  --process-image
//   --text TEXT  --text-pos LEFT,TOP  --font NAME,SIZE,#RRGGBB[,bius]
//   --image FILE.bmp  --image-pos LEFT,TOP  --alpha 0-255  --style 1|2
//
// Options not given keep the values the job already has.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <vector>

#include "effects/FrameEffects.h"

class TEffectOptions {
public:
    TEffectOptions();
    void AddTo(QCommandLineParser& parser) const;
    // Reads the options given into effects. A value that is malformed or out of range gives
    // false and the reason in error; effects is then unchanged.
    bool Read(const QCommandLineParser& parser, TFrameEffects& effects, QString* error) const;

private:
    QCommandLineOption m_brightness, m_contrast, m_saturation, m_exposure, m_processText, m_processImage, m_text,
        m_textPos, m_font, m_image, m_imagePos, m_alpha, m_style;
};

// "NAME,SIZE,#RRGGBB[,bius]": b bold, i italic, u underline, s strike-out. The name may itself
// hold commas; SIZE is in points (a whole number above 0).
bool ParseFontSpec(const QString& text, TWaterFont& font, QString* error);
// "LEFT,TOP", whole numbers (negative values are allowed).
bool ParsePosition(const QString& text, int32_t& left, int32_t& top, QString* error);
