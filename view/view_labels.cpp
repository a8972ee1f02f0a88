#include "view_labels.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRectF>

QFont sceneLabelFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    return font;
}

bool projectDisc(const Point3d& p, double sceneRadius, const Eigen::Matrix4d& projection,
                 const Eigen::Matrix4d& modelView, const std::array<int, 4>& viewport, WindowDisc& out) {
    const Eigen::Vector4d eye = modelView * Eigen::Vector4d(p.x(), p.y(), p.z(), 1.0);
    const Eigen::Vector4d clip = projection * eye;
    if (clip.w() <= 0.0)
        return false;
    out.centre = {viewport[0] + (clip.x() / clip.w() + 1.0) * 0.5 * viewport[2],
                  viewport[1] + (clip.y() / clip.w() + 1.0) * 0.5 * viewport[3]};
    // The views' model-view matrices are similarities: any column gives their scale.
    const double eyeRadius = sceneRadius * modelView.col(0).head<3>().norm();
    out.radius = std::abs(eyeRadius * projection(1, 1) * 0.5 * viewport[3] / clip.w());
    return true;
}

LabelSpot labelSpot(const WindowDisc& d, double widgetHeight, double pixelRatio, const QString& text) {
    return {QPointF(d.centre.x() / pixelRatio, widgetHeight - d.centre.y() / pixelRatio),
            d.radius / pixelRatio, text};
}

namespace {

// The box a label's text takes with its baseline origin at `at`: one full line high.
QRectF textBox(const QPointF& at, const QString& text, const QFontMetricsF& metrics) {
    return {at.x(), at.y() - metrics.ascent(), metrics.horizontalAdvance(text), metrics.height()};
}

} // namespace

std::vector<QPointF> placeLabels(const std::vector<LabelSpot>& spots, const QFontMetricsF& metrics) {
    std::vector<QPointF> placed;
    std::vector<QRectF> boxes;
    placed.reserve(spots.size());
    boxes.reserve(spots.size());
    for (const LabelSpot& s : spots) {
        QPointF at(s.centre.x() + s.radius + LabelGap, s.centre.y() + metrics.capHeight() / 2.0);
        // Each step puts the label below one it overlapped, and labels only move down: at most
        // one step per label placed before.
        for (bool moved = true; moved;) {
            moved = false;
            const QRectF box = textBox(at, s.text, metrics);
            for (std::size_t k = 0; k < boxes.size() && !moved; ++k)
                if (box.intersects(boxes[k])) {
                    at.setY(placed[k].y() + metrics.lineSpacing());
                    moved = true;
                }
        }
        placed.push_back(at);
        boxes.push_back(textBox(at, s.text, metrics));
    }
    return placed;
}

void drawLabels(QPainter& painter, const std::vector<LabelSpot>& spots) {
    if (spots.empty())
        return;
    painter.save();
    painter.setFont(sceneLabelFont());
    painter.setPen(Qt::white);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const std::vector<QPointF> at = placeLabels(spots, QFontMetricsF(painter.font(), painter.device()));
    for (std::size_t k = 0; k < spots.size(); ++k)
        painter.drawText(at[k], spots[k].text);
    painter.restore();
}

void drawCornerLabel(QPainter& painter, const QString& text) {
    painter.save();
    painter.setFont(sceneLabelFont());
    painter.setPen(Qt::white);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int a = painter.fontMetrics().ascent() / 2;
    painter.drawText(QPoint(a, 4 * a), text);
    painter.restore();
}
