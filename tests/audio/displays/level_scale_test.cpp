#include "audio/displays/level_scale.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

namespace pmx {
namespace {

std::vector<std::string> Texts(const std::vector<TMMLevelScale::Label>& labels) {
  std::vector<std::string> texts;
  for (const auto& label : labels) texts.push_back(label.Text.toStdString());
  return texts;
}

TEST(LevelScale, DefaultsLabelAHorizontalStripFromLeftToRightInItsZones) {
  TMMLevelScale scale;
  scale.resize(200, 7);
  const auto labels = scale.Labels(0, 0, 200, 7);
  // Walked from the right end; -35 would start left of the strip.
  EXPECT_EQ(Texts(labels), (std::vector<std::string>{"0", "-5", "-10", "-15", "-20", "-25", "-30"}));
  const QFontMetrics metrics(scale.font());
  EXPECT_EQ(labels[0].X + metrics.horizontalAdvance("0"), 199);
  for (std::size_t i = 1; i < labels.size(); ++i) EXPECT_LT(labels[i].X, labels[i - 1].X);
  EXPECT_EQ(labels[0].Color, scale.Scale3Color());
  EXPECT_EQ(labels[1].Color, scale.Scale3Color());
  EXPECT_EQ(labels[2].Color, scale.Scale2Color());
  EXPECT_EQ(labels[3].Color, scale.Scale2Color());
  EXPECT_EQ(labels[4].Color, scale.Scale1Color());
}

TEST(LevelScale, SettersClampAndKindTurnsTheStrip) {
  TMMLevelScale scale;
  scale.SetScaleTicks(1);
  scale.SetPoint1(0);
  scale.SetPoint2(300);
  scale.SetSensitivy(-200);
  EXPECT_EQ(scale.ScaleTicks(), 2);
  EXPECT_EQ(scale.Point1(), 1);
  EXPECT_EQ(scale.Point2(), 100);
  EXPECT_EQ(scale.Sensitivy(), -90);
  scale.SetKind(TMMLevelKind::lkVertical);
  EXPECT_EQ(scale.size(), QSize(7, 200));
  EXPECT_FALSE(scale.Scale()->Visible());
}

TEST(LevelScale, SymmetricStripMirrorsTheValuesWithAPlus) {
  TMMLevelScale scale;
  scale.resize(400, 12);
  scale.SetDirection(TMMLevelDirection::dirSymetric);
  const auto texts = Texts(scale.Labels(0, 0, 400, 12));
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "0"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "+5"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "-5"), texts.end());
  for (const auto& label : scale.Labels(0, 0, 400, 12)) EXPECT_GE(label.X, 0);
}

TEST(LevelScale, LinearAmplitudeAndTooShortStrips) {
  TMMLevelScale scale;
  scale.resize(200, 7);
  scale.SetLogAmp(false);
  const auto texts = Texts(scale.Labels(0, 0, 200, 7));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "0");
  scale.resize(4, 7);
  EXPECT_TRUE(scale.Labels(0, 0, 4, 7).empty());
}

TEST(LevelScale, BothTickScalesOnAThinStripLeaveNoRoomForLabels) {
  TMMLevelScale scale;
  scale.resize(200, 7);
  scale.Scale()->SetVisible(true);
  QImage image(200, 7, QImage::Format_RGB32);
  image.fill(Qt::gray);
  QPainter painter(&image);
  scale.Paint(painter);
  painter.end();
  // Ticks in the label colours, nothing else but the background.
  int white = 0;
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 200; ++x) white += image.pixelColor(x, y) == QColor(Qt::white);
  }
  EXPECT_GT(white, 0);
  EXPECT_EQ(image.pixelColor(100, 3), QColor(Qt::black));
}

}  // namespace
}  // namespace pmx
