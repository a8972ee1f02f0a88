#include "view_labels.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRectF>
#include <algorithm>
#include <cmath>

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

// Spots whose centres are closer than this (pixels, in x and in y) name the same point.
constexpr double CoincidentPixels = 0.5;

// The labels of one point, drawn as the lines of one block in spot order.
struct LabelBlock {
    QPointF centre;
    double radius = 0.0;
    double width = 0.0; // of the widest line
    std::vector<std::size_t> spots;
};

std::vector<LabelBlock> blocksOf(const std::vector<LabelSpot>& spots, const QFontMetricsF& metrics) {
    std::vector<LabelBlock> blocks;
    for (std::size_t k = 0; k < spots.size(); ++k) {
        const LabelSpot& s = spots[k];
        auto same = std::find_if(blocks.begin(), blocks.end(), [&](const LabelBlock& b) {
            return std::abs(b.centre.x() - s.centre.x()) < CoincidentPixels &&
                   std::abs(b.centre.y() - s.centre.y()) < CoincidentPixels;
        });
        if (same == blocks.end())
            same = blocks.insert(blocks.end(), LabelBlock{s.centre, s.radius, 0.0, {}});
        same->radius = std::max(same->radius, s.radius);
        same->width = std::max(same->width, metrics.horizontalAdvance(s.text));
        same->spots.push_back(k);
    }
    return blocks;
}

// The box block b takes with the baseline of its first line at `at`.
QRectF blockBox(const QPointF& at, const LabelBlock& b, const QFontMetricsF& metrics) {
    const double lines = double(b.spots.size() - 1);
    return {at.x(), at.y() - metrics.ascent(), b.width, lines * metrics.lineSpacing() + metrics.height()};
}

const QRectF* firstOverlapped(const QRectF& box, const std::vector<QRectF>& placed) {
    for (const QRectF& p : placed)
        if (box.intersects(p))
            return &p;
    return nullptr;
}

QRectF sphereBox(const LabelBlock& b) {
    return {b.centre.x() - b.radius, b.centre.y() - b.radius, 2 * b.radius, 2 * b.radius};
}

// How many lines up or down a block may move, on either side of its sphere, to find a free place.
constexpr int LabelShiftLines = 3;

// The first baseline of block b: right of its sphere, else left of it, else on either side moved
// up or down by whole lines, nearest first (each only where it covers no label placed before and
// no other sphere); where none is free, right of it and pushed down below the labels placed
// before that it would overlap.
QPointF placeBlock(const LabelBlock& b, const std::vector<QRectF>& placed, const std::vector<QRectF>& spheres,
                   const QFontMetricsF& metrics) {
    const double y = b.centre.y() + metrics.capHeight() / 2.0;
    const QPointF right(b.centre.x() + b.radius + LabelGap, y);
    const QPointF left(b.centre.x() - b.radius - LabelGap - b.width, y);
    const QRectF own = sphereBox(b);
    const auto isFree = [&](const QPointF& at) {
        const QRectF box = blockBox(at, b, metrics);
        const bool coversSphere = std::any_of(spheres.begin(), spheres.end(),
                                              [&](const QRectF& s) { return s != own && box.intersects(s); });
        return !coversSphere && !firstOverlapped(box, placed);
    };
    for (int lines = 0; lines <= LabelShiftLines; ++lines)
        for (const double step : {-1.0, 1.0})
            for (const QPointF& side : {right, left}) {
                const QPointF at = side + QPointF(0.0, step * lines * metrics.lineSpacing());
                if (isFree(at))
                    return at;
            }
    // Each step moves the block down below one it overlapped, which it then never meets again.
    QPointF at = right;
    while (const QRectF* hit = firstOverlapped(blockBox(at, b, metrics), placed))
        at.setY(hit->bottom() + metrics.leading() + metrics.ascent());
    return at;
}

} // namespace

std::vector<QPointF> placeLabels(const std::vector<LabelSpot>& spots, const QFontMetricsF& metrics) {
    std::vector<QPointF> baselines(spots.size());
    const std::vector<LabelBlock> blocks = blocksOf(spots, metrics);
    std::vector<QRectF> placed, spheres;
    for (const LabelBlock& b : blocks)
        spheres.push_back(sphereBox(b));
    for (const LabelBlock& b : blocks) {
        const QPointF at = placeBlock(b, placed, spheres, metrics);
        placed.push_back(blockBox(at, b, metrics));
        for (std::size_t line = 0; line < b.spots.size(); ++line)
            baselines[b.spots[line]] = at + QPointF(0.0, double(line) * metrics.lineSpacing());
    }
    return baselines;
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
