// Test main of the gui and screen tests: one application object of the
// host framework for the whole test program, as a host application has.

#include "hostfw/Application.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
  ::testing::InitGoogleMock(&argc, argv);
  // gui tests draw offscreen, screen tests on the X server of xvfb-run; also
  // when the program is only asked to list its tests.
  qputenv("QT_QPA_PLATFORM", CORVANE_TEST_PLATFORM);
  Application::TApplication App(argc, argv);
  return RUN_ALL_TESTS();
}
