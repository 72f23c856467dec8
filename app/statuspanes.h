// The fourteen panes of the status bar: labels in the even panes ("Ratio",
// "   Time", ...), the open image's figures in the odd ones.
#pragma once

#include <QWidget>
#include <array>

class QLabel;

class CStatusPanes : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kPaneCount = 14;
  // Right edges of the panes, in pixels at the reference font.
  static constexpr std::array<int, kPaneCount> kRightEdges = {40,  90,  130, 165, 210, 245, 295,
                                                              340, 415, 440, 530, 590, 705, 765};

  explicit CStatusPanes(QWidget* parent = nullptr);

  void SetPaneText(int pane, const QString& text);
  QString PaneText(int pane) const;
  // Twenty blanks in every value pane.
  void ClearValues();
  int PaneRightEdge(int pane) const;

 private:
  std::array<QLabel*, kPaneCount> panes_{};
};
