#include "CanvasWidgetsQt.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Fonts are sized for 96 dots per inch (3780 dots per metre), whatever the screen says.
constexpr int kDotsPerMetre = 3780;

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

const QImage& MeasureDevice() {
  static QImage device = [] {
    QImage image(1, 1, QImage::Format_RGB888);
    image.setDotsPerMeterX(kDotsPerMetre);
    image.setDotsPerMeterY(kDotsPerMetre);
    return image;
  }();
  return device;
}

}  // namespace

QFont ToQFont(const platform::FontSpec& font) {
  QFont f(ToQString(font.Name));
  f.setPointSize(font.SizePt > 0 ? font.SizePt : 8);
  f.setBold(font.Bold);
  return f;
}

QImage CanvasImage(platform::RasterCanvas& canvas) {
  QImage image(canvas.Bits(), canvas.Width(), canvas.Height(), canvas.Stride(), QImage::Format_RGB888);
  image.setDotsPerMeterX(kDotsPerMetre);
  image.setDotsPerMeterY(kDotsPerMetre);
  return image;
}

QtTextRenderer& QtTextRenderer::Instance() {
  static QtTextRenderer renderer;
  return renderer;
}

void QtTextRenderer::Measure(const platform::FontSpec& font, const std::u16string& text, int& width, int& height) {
  const QFontMetrics metrics(ToQFont(font), &MeasureDevice());
  width = metrics.horizontalAdvance(ToQString(text));
  height = metrics.height();
}

void QtTextRenderer::Draw(platform::RasterCanvas& canvas, const platform::Rect& box, const platform::FontSpec& font,
                          const std::u16string& text, platform::TextAlign align, bool ellipsis) {
  if (canvas.Empty()) return;
  QImage image = CanvasImage(canvas);
  QPainter painter(&image);
  const platform::Rect clip = canvas.ClipRect();
  painter.setClipRect(QRect(clip.left, clip.top, clip.Width(), clip.Height()));
  const QFont qfont = ToQFont(font);
  painter.setFont(qfont);
  painter.setPen(QColor(font.Color.r, font.Color.g, font.Color.b));
  const QRect rect(box.left, box.top, box.Width(), box.Height());
  QString shown = ToQString(text);
  if (ellipsis) shown = QFontMetrics(qfont, &image).elidedText(shown, Qt::ElideRight, std::max(rect.width(), 0));
  int flags = Qt::AlignVCenter | Qt::TextSingleLine;
  flags |= align == platform::TextAlign::Left ? Qt::AlignLeft
                                              : (align == platform::TextAlign::Right ? Qt::AlignRight : Qt::AlignHCenter);
  painter.drawText(rect, flags, shown);
}

// --- header strip ----------------------------------------------------------------------------

InfoPanelWidget::InfoPanelWidget(QWidget* parent) : QWidget(parent) {
  setFixedHeight(panel_.Height());
  panel_.OnChange = [this] { update(); };
}

void InfoPanelWidget::paintEvent(QPaintEvent*) {
  platform::RasterCanvas canvas(width(), height());
  canvas.SetTextRenderer(&QtTextRenderer::Instance());
  panel_.Paint(canvas);
  QPainter(this).drawImage(0, 0, CanvasImage(canvas));
}

// --- tab control -----------------------------------------------------------------------------

TabSheetWidget::TabSheetWidget(QWidget* parent, TxpTabSheet& sheet) : QWidget(parent), sheet_(sheet) {
  sheet_.OnChange = [this] { update(); };
}

void TabSheetWidget::paintEvent(QPaintEvent*) {
  platform::RasterCanvas canvas(width(), height());
  sheet_.PaintBackground(canvas, platform::Rect{0, 0, width(), height()});
  QPainter(this).drawImage(0, 0, CanvasImage(canvas));
}

PageControlWidget::PageControlWidget(QWidget* parent) : QWidget(parent) {
  control_.OnChange = [this] { Relayout(); };
}

TabSheetWidget* PageControlWidget::AddPage(const QString& caption) {
  const std::u16string text(reinterpret_cast<const char16_t*>(caption.utf16()), static_cast<size_t>(caption.size()));
  TxpTabSheet& sheet = control_.AddPage(text);
  auto* page = new TabSheetWidget(this, sheet);
  pages_.push_back(page);
  Relayout();
  return page;
}

void PageControlWidget::ShowPage(int index) { control_.SetActivePageIndex(index); }

void PageControlWidget::Relayout() {
  platform::RasterCanvas measure;
  measure.SetTextRenderer(&QtTextRenderer::Instance());
  control_.Layout(measure, width(), height());
  const platform::Rect r = control_.DisplayRect();
  for (size_t i = 0; i < pages_.size(); ++i) {
    pages_[i]->setGeometry(r.left, r.top, std::max(r.Width(), 0), std::max(r.Height(), 0));
    pages_[i]->setVisible(static_cast<int>(i) == control_.ActivePageIndex());
  }
  update();
}

void PageControlWidget::resizeEvent(QResizeEvent*) { Relayout(); }

void PageControlWidget::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const int page = control_.TabAt(p.x(), p.y());
  if (page >= 0) control_.SetActivePageIndex(page);
}

void PageControlWidget::paintEvent(QPaintEvent*) {
  platform::RasterCanvas canvas(width(), height());
  canvas.SetTextRenderer(&QtTextRenderer::Instance());
  control_.Paint(canvas);
  QPainter(this).drawImage(0, 0, CanvasImage(canvas));
}
