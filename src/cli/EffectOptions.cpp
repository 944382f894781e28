#include "cli/EffectOptions.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

bool ParseInt(const QString& text, int32_t low, int32_t high, int32_t& value) {
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok, 10);
    if (!ok || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

void SetError(QString* error, const QString& text) {
    if (error) *error = text;
}

}  // namespace

bool ParsePosition(const QString& text, int32_t& left, int32_t& top, QString* error) {
    const QStringList parts = text.split(',');
    int32_t x = 0, y = 0;
    if (parts.size() != 2 || !ParseInt(parts[0], INT32_MIN, INT32_MAX, x) ||
        !ParseInt(parts[1], INT32_MIN, INT32_MAX, y)) {
        SetError(error, QStringLiteral("invalid position '%1' (expected LEFT,TOP)").arg(text));
        return false;
    }
    left = x;
    top = y;
    return true;
}

bool ParseFontSpec(const QString& text, TWaterFont& font, QString* error) {
    auto fail = [&](const QString& why) {
        SetError(error, QStringLiteral("invalid font '%1' (%2; expected NAME,SIZE,#RRGGBB[,bius])").arg(text, why));
        return false;
    };
    QStringList parts = text.split(',');
    // The style field is optional: it is there when the last field is not the colour.
    QString style;
    if (parts.size() >= 4 && !parts.last().startsWith('#')) style = parts.takeLast();
    if (parts.size() < 3) return fail("too few fields");
    const QString colour = parts.takeLast().trimmed();
    const QString size = parts.takeLast();
    const QString name = parts.join(',').trimmed();
    if (name.isEmpty()) return fail("no name");

    TWaterFont parsed = font;
    parsed.Name = name;
    int32_t points = 0;
    if (!ParseInt(size, 1, 1000, points)) return fail("size must be a whole number from 1 to 1000");
    parsed.Size = points;
    static const QRegularExpression rgb("^#[0-9A-Fa-f]{6}$");
    if (!rgb.match(colour).hasMatch()) return fail("colour must be #RRGGBB");
    parsed.Color = QColor(colour.mid(1, 2).toInt(nullptr, 16), colour.mid(3, 2).toInt(nullptr, 16),
                          colour.mid(5, 2).toInt(nullptr, 16));
    parsed.Bold = parsed.Italic = parsed.Underline = parsed.StrikeOut = false;
    for (const QChar c : style.trimmed()) {
        switch (c.toLower().unicode()) {
            case 'b': parsed.Bold = true; break;
            case 'i': parsed.Italic = true; break;
            case 'u': parsed.Underline = true; break;
            case 's': parsed.StrikeOut = true; break;
            default: return fail(QStringLiteral("unknown style letter '%1'").arg(c));
        }
    }
    font = parsed;
    return true;
}

TEffectOptions::TEffectOptions()
    : m_brightness("brightness", "Brightness factor in 1/256 units, 0 to 512 (255 = no change).", "N"),
      m_contrast("contrast", "Contrast, -100 to 100 (0 = no change).", "N"),
      m_saturation("saturation", "Saturation factor in 1/256 units, 0 to 512 (255 = no change).", "N"),
      m_exposure("exposure", "Exposure, -255 to 512 (0 = no change).", "N"),
      m_processText("process-text", "The colour corrections also act on the text."),
      m_processImage("process-image", "The colour corrections also act on the image."),
      m_text("text", "Text watermark.", "TEXT"),
      m_textPos("text-pos", "Top-left corner of the text in picture pixels.", "LEFT,TOP"),
      m_font("font", "Font of the text: name, size in points, colour, and any of b(old), i(talic), u(nderline), "
                     "s(trike-out).",
             "NAME,SIZE,#RRGGBB[,bius]"),
      m_image("image", "Bitmap file to overlay.", "FILE.bmp"),
      m_imagePos("image-pos", "Top-left corner of the image in picture pixels.", "LEFT,TOP"),
      m_alpha("alpha", "Weight of the image in style 1, 0 to 255.", "0-255"),
      m_style("style", "1 = weighted blend, 2 = multiply.", "1|2") {}

void TEffectOptions::AddTo(QCommandLineParser& parser) const {
    for (const QCommandLineOption* option : {&m_brightness, &m_contrast, &m_saturation, &m_exposure, &m_processText,
                                             &m_processImage, &m_text, &m_textPos, &m_font, &m_image, &m_imagePos,
                                             &m_alpha, &m_style})
        parser.addOption(*option);
}

bool TEffectOptions::Read(const QCommandLineParser& parser, TFrameEffects& effects, QString* error) const {
    TFrameEffects e = effects;
    struct TRanged {
        const QCommandLineOption& option;
        int32_t low, high;
        int32_t& field;
    };
    const TRanged ranged[] = {
        {m_brightness, 0, 512, e.Brightness}, {m_contrast, -100, 100, e.Contrast},
        {m_saturation, 0, 512, e.Saturation}, {m_exposure, -255, 512, e.Exposure},
        {m_alpha, 0, 255, e.ImageAlpha},      {m_style, 1, 2, e.TransparentStyle},
    };
    for (const TRanged& r : ranged) {
        if (!parser.isSet(r.option)) continue;
        const QString value = parser.value(r.option);
        if (!ParseInt(value, r.low, r.high, r.field)) {
            SetError(error, QStringLiteral("invalid value '%1' for --%2 (expected a whole number from %3 to %4)")
                                .arg(value, r.option.names().first())
                                .arg(r.low)
                                .arg(r.high));
            return false;
        }
    }
    if (parser.isSet(m_processText)) e.ProcessText = true;
    if (parser.isSet(m_processImage)) e.ProcessImage = true;
    if (parser.isSet(m_text)) e.WaterText = parser.value(m_text);
    if (parser.isSet(m_textPos) && !ParsePosition(parser.value(m_textPos), e.TextLeft, e.TextTop, error)) return false;
    if (parser.isSet(m_font) && !ParseFontSpec(parser.value(m_font), e.WaterFont, error)) return false;
    if (parser.isSet(m_image)) {
        const QString path = parser.value(m_image);
        e.WaterImage = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    }
    if (parser.isSet(m_imagePos) && !ParsePosition(parser.value(m_imagePos), e.ImageLeft, e.ImageTop, error))
        return false;
    effects = e;
    return true;
}
