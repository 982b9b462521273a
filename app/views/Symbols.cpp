#include "app/views/Symbols.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

#include <cmath>
#include <functional>
#include <map>
#include <optional>

namespace zarvel::Symbols {

namespace {

// Every symbol is drawn on a 16 × 16 grid; the painter is scaled to the target.
using Drawing = std::function<void(QPainter&)>;

void lines(QPainter& p, std::initializer_list<QLineF> list) {
    for (const QLineF& l : list)
        p.drawLine(l);
}

void polyline(QPainter& p, std::initializer_list<QPointF> points) {
    const QList<QPointF> list(points);
    p.drawPolyline(list.data(), static_cast<int>(list.size()));
}

void fillWithPen(QPainter& p, const QPainterPath& path) {
    p.fillPath(path, p.pen().color());
}

QPainterPath documentPath(double left, double top, double right, double bottom, double fold) {
    QPainterPath path;
    path.moveTo(left, top);
    path.lineTo(right - fold, top);
    path.lineTo(right, top + fold);
    path.lineTo(right, bottom);
    path.lineTo(left, bottom);
    path.closeSubpath();
    path.moveTo(right - fold, top);
    path.lineTo(right - fold, top + fold);
    path.lineTo(right, top + fold);
    return path;
}

void gear(QPainter& p, QPointF centre, double radius) {
    QPen pen = p.pen();
    p.drawEllipse(centre, radius * 0.62, radius * 0.62);
    // Square teeth, as wide as a third of the radius.
    pen.setWidthF(radius * 0.36);
    pen.setCapStyle(Qt::FlatCap);
    p.save();
    p.setPen(pen);
    for (int k = 0; k < 8; ++k) {
        const double a = k * M_PI / 4 + M_PI / 8;
        const QPointF dir(std::cos(a), std::sin(a));
        p.drawLine(centre + dir * radius * 0.6, centre + dir * radius);
    }
    p.restore();
    p.setBrush(p.pen().color());
    p.drawEllipse(centre, radius * 0.18, radius * 0.18);
    p.setBrush(Qt::NoBrush);
}

QPainterPath exclamationMark() {
    QPainterPath mark;
    mark.addRoundedRect(QRectF(7.1, 5.4, 1.8, 5.2), 0.9, 0.9);
    mark.addEllipse(QPointF(8, 12.2), 1.05, 1.05);
    return mark;
}

QPainterPath warningTriangle() {
    QPainterPath tri;
    tri.moveTo(8, 1.8);
    tri.lineTo(15, 14.2);
    tri.lineTo(1, 14.2);
    tri.closeSubpath();
    return tri;
}

const std::map<QString, Drawing>& drawings() {
    static const std::map<QString, Drawing> table = {
        {"plus",
         [](QPainter& p) {
             lines(p, {{8, 3, 8, 13}, {3, 8, 13, 8}});
         }},
        {"minus",
         [](QPainter& p) {
             lines(p, {{3, 8, 13, 8}});
         }},
        {"xmark",
         [](QPainter& p) {
             lines(p, {{4, 4, 12, 12}, {12, 4, 4, 12}});
         }},
        {"checkmark",
         [](QPainter& p) {
             polyline(p, {{3, 8.5}, {6.5, 12}, {13, 4.5}});
         }},
        {"plus.rectangle",
         [](QPainter& p) {
             p.drawRoundedRect(QRectF(1.5, 3, 13, 10), 2, 2);
             lines(p, {{8, 5.5, 8, 10.5}, {5.5, 8, 10.5, 8}});
         }},
        {"rectangle.split.3x1",
         [](QPainter& p) {
             p.drawRoundedRect(QRectF(1.5, 3, 13, 10), 2, 2);
             lines(p, {{5.83, 3, 5.83, 13}, {10.17, 3, 10.17, 13}});
         }},
        {"tablecells",
         [](QPainter& p) {
             p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
             lines(p, {{1.5, 6.17, 14.5, 6.17},
                       {1.5, 9.83, 14.5, 9.83},
                       {5.83, 2.5, 5.83, 13.5},
                       {10.17, 2.5, 10.17, 13.5}});
         }},
        {"trash",
         [](QPainter& p) {
             lines(p, {{2.5, 4, 13.5, 4}});
             polyline(p, {{6, 4}, {6, 2.3}, {10, 2.3}, {10, 4}});
             polyline(p, {{3.9, 4}, {4.8, 14}, {11.2, 14}, {12.1, 4}});
             lines(p, {{6.6, 6.5, 6.8, 11.5}, {9.4, 6.5, 9.2, 11.5}});
         }},
        {"magnifyingglass",
         [](QPainter& p) {
             p.drawEllipse(QPointF(6.8, 6.8), 4.3, 4.3);
             lines(p, {{10, 10, 14, 14}});
         }},
        {"doc", [](QPainter& p) { p.drawPath(documentPath(3.5, 1.5, 12.5, 14.5, 3)); }},
        {"doc.badge.gearshape",
         [](QPainter& p) {
             QPainterPath doc;
             doc.moveTo(7.2, 14.5);
             doc.lineTo(2, 14.5);
             doc.lineTo(2, 1.5);
             doc.lineTo(8, 1.5);
             doc.lineTo(11, 4.5);
             doc.lineTo(11, 7);
             doc.moveTo(8, 1.5);
             doc.lineTo(8, 4.5);
             doc.lineTo(11, 4.5);
             p.drawPath(doc);
             gear(p, {11.6, 11.6}, 3.6);
         }},
        {"gearshape",
         [](QPainter& p) {
             gear(p, {8, 8}, 6.2);
         }},
        {"doc.on.doc",
         [](QPainter& p) {
             const QRectF front(2.5, 4.5, 8.5, 10);
             p.save();
             QPainterPath clip;
             clip.addRect(QRectF(0, 0, 16, 16));
             QPainterPath hole;
             hole.addRect(front.adjusted(-1.2, -1.2, 1.2, 1.2));
             p.setClipPath(clip.subtracted(hole));
             p.drawRoundedRect(QRectF(5, 1.5, 8.5, 10), 1.5, 1.5);
             p.restore();
             p.drawRoundedRect(front, 1.5, 1.5);
         }},
        {"clipboard",
         [](QPainter& p) {
             p.drawRoundedRect(QRectF(3, 2.5, 10, 12), 1.5, 1.5);
             QPainterPath clip;
             clip.addRoundedRect(QRectF(5.5, 1, 5, 3), 1, 1);
             fillWithPen(p, clip);
             lines(p, {{5.5, 8, 10.5, 8}, {5.5, 10.8, 10.5, 10.8}});
         }},
        {"scissors",
         [](QPainter& p) {
             p.drawEllipse(QPointF(4.5, 12), 2.2, 2.2);
             p.drawEllipse(QPointF(11.5, 12), 2.2, 2.2);
             lines(p, {{6, 10.4, 12.5, 2.3}, {10, 10.4, 3.5, 2.3}});
         }},
        {"eraser",
         [](QPainter& p) {
             QPainterPath body;
             body.moveTo(2, 9.8);
             body.lineTo(8, 3.8);
             body.lineTo(12.8, 8.6);
             body.lineTo(6.8, 14.6);
             body.closeSubpath();
             QPainterPath tip;
             tip.moveTo(2, 9.8);
             tip.lineTo(5, 6.8);
             tip.lineTo(9.8, 11.6);
             tip.lineTo(6.8, 14.6);
             tip.closeSubpath();
             fillWithPen(p, tip);
             p.drawPath(body);
             lines(p, {{6.8, 14.6, 14.2, 14.6}});
         }},
        {"pencil",
         [](QPainter& p) {
             QPainterPath body;
             body.moveTo(2.3, 13.7);
             body.lineTo(3.2, 10.4);
             body.lineTo(11, 2.6);
             body.lineTo(13.4, 5);
             body.lineTo(5.6, 12.8);
             body.closeSubpath();
             p.drawPath(body);
             lines(p, {{9.4, 4.2, 11.8, 6.6}, {3.2, 10.4, 5.6, 12.8}});
         }},
        {"textformat",
         [](QPainter& p) {
             polyline(p, {{1.5, 13.5}, {5.5, 3}, {9.5, 13.5}});
             lines(p, {{3, 9.6, 8, 9.6}});
             p.drawEllipse(QPointF(12.2, 11.2), 2.2, 2.3);
             lines(p, {{14.4, 8.6, 14.4, 13.5}});
         }},
        {"chevron.down",
         [](QPainter& p) {
             polyline(p, {{4, 6}, {8, 10}, {12, 6}});
         }},
        {"chevron.up",
         [](QPainter& p) {
             polyline(p, {{4, 10}, {8, 6}, {12, 10}});
         }},
        {"chevron.left",
         [](QPainter& p) {
             polyline(p, {{10, 4}, {6, 8}, {10, 12}});
         }},
        {"chevron.right",
         [](QPainter& p) {
             polyline(p, {{6, 4}, {10, 8}, {6, 12}});
         }},
        {"chevron.up.chevron.down",
         [](QPainter& p) {
             polyline(p, {{5, 6.5}, {8, 3.5}, {11, 6.5}});
             polyline(p, {{5, 9.5}, {8, 12.5}, {11, 9.5}});
         }},
        {"arrow.up",
         [](QPainter& p) {
             lines(p, {{8, 13.5, 8, 2.5}});
             polyline(p, {{3.5, 7}, {8, 2.5}, {12.5, 7}});
         }},
        {"arrow.down",
         [](QPainter& p) {
             lines(p, {{8, 2.5, 8, 13.5}});
             polyline(p, {{3.5, 9}, {8, 13.5}, {12.5, 9}});
         }},
        {"arrow.left",
         [](QPainter& p) {
             lines(p, {{13.5, 8, 2.5, 8}});
             polyline(p, {{7, 3.5}, {2.5, 8}, {7, 12.5}});
         }},
        {"arrow.right",
         [](QPainter& p) {
             lines(p, {{2.5, 8, 13.5, 8}});
             polyline(p, {{9, 3.5}, {13.5, 8}, {9, 12.5}});
         }},
        {"arrow.down.right",
         [](QPainter& p) {
             lines(p, {{3.5, 3.5, 12.5, 12.5}});
             polyline(p, {{5.5, 12.5}, {12.5, 12.5}, {12.5, 5.5}});
         }},
        {"arrow.up.to.line",
         [](QPainter& p) {
             lines(p, {{2.5, 2, 13.5, 2}, {8, 14, 8, 5}});
             polyline(p, {{4, 9}, {8, 5}, {12, 9}});
         }},
        {"arrow.down.to.line",
         [](QPainter& p) {
             lines(p, {{2.5, 14, 13.5, 14}, {8, 2, 8, 11}});
             polyline(p, {{4, 7}, {8, 11}, {12, 7}});
         }},
        {"arrow.left.to.line",
         [](QPainter& p) {
             lines(p, {{2, 2.5, 2, 13.5}, {14, 8, 5, 8}});
             polyline(p, {{9, 4}, {5, 8}, {9, 12}});
         }},
        {"arrow.right.to.line",
         [](QPainter& p) {
             lines(p, {{14, 2.5, 14, 13.5}, {2, 8, 11, 8}});
             polyline(p, {{7, 4}, {11, 8}, {7, 12}});
         }},
        {"arrow.left.and.right",
         [](QPainter& p) {
             lines(p, {{1.5, 8, 14.5, 8}});
             polyline(p, {{5, 4.5}, {1.5, 8}, {5, 11.5}});
             polyline(p, {{11, 4.5}, {14.5, 8}, {11, 11.5}});
         }},
        {"arrow.up.arrow.down",
         [](QPainter& p) {
             lines(p, {{5, 13.5, 5, 2.5}, {11, 2.5, 11, 13.5}});
             polyline(p, {{2, 5.5}, {5, 2.5}, {8, 5.5}});
             polyline(p, {{8, 10.5}, {11, 13.5}, {14, 10.5}});
         }},
        {"line.3.horizontal.decrease",
         [](QPainter& p) {
             lines(p, {{2.5, 4.5, 13.5, 4.5}, {4.5, 8, 11.5, 8}, {6.5, 11.5, 9.5, 11.5}});
         }},
        {"exclamationmark.triangle",
         [](QPainter& p) {
             p.drawPath(warningTriangle());
             lines(p, {{8, 6, 8, 9.6}});
             p.setBrush(p.pen().color());
             p.drawEllipse(QPointF(8, 12), 0.5, 0.5);
             p.setBrush(Qt::NoBrush);
         }},
        {"exclamationmark.triangle.fill",
         [](QPainter& p) {
             const QPainterPath tri = warningTriangle();
             // The stroke rounds the corners; the mark is cut out so it shows the background.
             QPainterPathStroker stroker;
             stroker.setWidth(p.pen().widthF());
             stroker.setJoinStyle(Qt::RoundJoin);
             fillWithPen(p, tri.united(stroker.createStroke(tri)).subtracted(exclamationMark()));
         }},
    };
    return table;
}

void drawPlaceholder(QPainter& p) {
    QPen pen = p.pen();
    pen.setStyle(Qt::DashLine);
    p.setPen(pen);
    p.drawRoundedRect(QRectF(2.5, 2.5, 11, 11), 2.5, 2.5);
}

class SymbolEngine : public QIconEngine {
public:
    SymbolEngine(QString name, std::optional<QColor> color) : name_(std::move(name)), color_(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        Symbols::paint(*painter, rect, name_, colorFor(mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.fill(Qt::transparent);
        {
            // Drawn at the device's resolution in logical units, so the strokes are as
            // heavy at 1.25×, 1.5× or 2× as at 1×, only finer.
            QPainter p(&pixmap);
            p.scale(scale, scale);
            Symbols::paint(p, QRectF(QPointF(0, 0), QSizeF(size)), name_, colorFor(mode));
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SymbolEngine(name_, color_); }
    QString key() const override { return QStringLiteral("zarvel.symbol"); }
    QString iconName() override { return name_; }

private:
    QColor colorFor(QIcon::Mode mode) const {
        const QPalette palette = QGuiApplication::palette();
        QColor c;
        if (color_)
            c = *color_;
        else if (mode == QIcon::Selected)
            c = palette.color(QPalette::HighlightedText);
        else
            c = palette.color(QPalette::Active, QPalette::WindowText);
        if (mode == QIcon::Disabled) c.setAlphaF(c.alphaF() * 0.35f);
        return c;
    }

    QString name_;
    std::optional<QColor> color_;
};

} // namespace

void paint(QPainter& painter, const QRectF& rect, const QString& name, const QColor& color) {
    const double side = std::min(rect.width(), rect.height());
    if (side <= 0) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 16, side / 16);
    // Thin icons get a relatively heavier stroke so they stay legible at menu size.
    const double width = side <= 16 ? 1.5 : side <= 24 ? 1.35 : 1.2;
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const auto& table = drawings();
    if (auto it = table.find(name); it != table.end())
        it->second(painter);
    else
        drawPlaceholder(painter);
    painter.restore();
}

QIcon icon(const QString& name) {
    return QIcon(new SymbolEngine(name, std::nullopt));
}

QIcon icon(const QString& name, const QColor& color) {
    return QIcon(new SymbolEngine(name, color));
}

bool has(const QString& name) {
    return drawings().count(name) > 0;
}

QStringList names() {
    QStringList list;
    for (const auto& entry : drawings())
        list.append(entry.first);
    return list;
}

} // namespace zarvel::Symbols
