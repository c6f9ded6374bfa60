// The test main of the shell's tests: GoogleTest with one QApplication, made
// only when tests run (listing them needs no display).
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  QtEnvironment(int argc, char** argv) : argc_(argc), argv_(argv) {}

  void SetUp() override { application_ = std::make_unique<QApplication>(argc_, argv_); }
  void TearDown() override { application_.reset(); }

 private:
  int argc_;
  char** argv_;
  std::unique_ptr<QApplication> application_;
};

}  // namespace

int main(int argc, char** argv) {
  // Runs offscreen unless told otherwise, also when started by hand.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new QtEnvironment(argc, argv));
  return RUN_ALL_TESTS();
}
