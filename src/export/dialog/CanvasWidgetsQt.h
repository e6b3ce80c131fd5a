// The Qt side of the dialog's drawing: a text renderer that draws with Qt's fonts straight into a
// raster canvas, and the widgets that show the header strip and the tab control by painting them
// onto a canvas and putting the canvas on screen through a QImage.
#pragma once

#include <QImage>
#include <QWidget>

#include <vector>

#include "RasterCanvas.h"
#include "VYRInfoPanel.h"
#include "xpPages.h"

// Draws text into a canvas's buffer with QPainter (fonts at 96 dots per inch, as the dialog's
// sizes assume).
class QtTextRenderer : public platform::TextRenderer {
 public:
  void Measure(const platform::FontSpec& font, const std::u16string& text, int& width, int& height) override;
  void Draw(platform::RasterCanvas& canvas, const platform::Rect& box, const platform::FontSpec& font,
            const std::u16string& text, platform::TextAlign align, bool ellipsis) override;
  static QtTextRenderer& Instance();
};

// A QImage over the canvas's buffer (no copy; valid while the canvas is unchanged in size).
QImage CanvasImage(platform::RasterCanvas& canvas);
QFont ToQFont(const platform::FontSpec& font);

class InfoPanelWidget : public QWidget {
 public:
  explicit InfoPanelWidget(QWidget* parent);
  TVYRInfoPanel& Panel() { return panel_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  TVYRInfoPanel panel_;
};

class TabSheetWidget : public QWidget {
 public:
  TabSheetWidget(QWidget* parent, TxpTabSheet& sheet);
  TxpTabSheet& Sheet() { return sheet_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  TxpTabSheet& sheet_;
};

class PageControlWidget : public QWidget {
 public:
  explicit PageControlWidget(QWidget* parent);
  TxpPageControl& Control() { return control_; }
  // A new page with its widget, on which the caller places the page's controls.
  TabSheetWidget* AddPage(const QString& caption);
  void ShowPage(int index);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void Relayout();
  TxpPageControl control_;
  std::vector<TabSheetWidget*> pages_;
};
