// Widget tests run on Qt's offscreen platform: no display is needed.
#include <gtest/gtest.h>

#include <QApplication>

#include "StartUp.h"

int main(int argc, char** argv) {
  // Also for the test listing at build time, which runs without the test's environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SetUpApplication();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
