// Runs the GoogleTest cases of one test program inside a Qt application.
#include <gtest/gtest.h>

#ifdef TOVIX_TEST_WIDGETS
#include <QApplication>
#endif
#include <QCoreApplication>

int main(int argc, char* argv[]) {
  testing::InitGoogleTest(&argc, argv);
#ifdef TOVIX_TEST_WIDGETS
  QApplication application(argc, argv);
#else
  QCoreApplication application(argc, argv);
#endif
  return RUN_ALL_TESTS();
}
