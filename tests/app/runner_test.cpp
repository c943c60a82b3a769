#include "app/runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/message_catalog.h"
#include "base/exception.h"
#include "tests/support/recording_ui.h"
#include "tests/base/worker_body.h"
#include "tests/support/temp_dir.h"

namespace kestrune {
namespace {

using testing::BodyConversion;
using testing::TempDir;

std::string Line(double progress) {
  int lastCells = -1;
  std::string bar;
  return ProgressLine(progress, &lastCells, &bar);
}

TEST(Runner, ProgressLineBytes) {
  EXPECT_EQ(Line(0.0), "  0.0 [                    ]\r");
  EXPECT_EQ(Line(0.049), "  4.9 [                    ]\r");
  EXPECT_EQ(Line(0.05), "  5.0 [|                   ]\r");
  EXPECT_EQ(Line(0.5), " 50.0 [||||||||||          ]\r");
  EXPECT_EQ(Line(0.999), " 99.9 [" + std::string(19, '|') + " ]\r");
  EXPECT_EQ(Line(1.0), " 100.0 [||||||||||||||||||||]\r");
  EXPECT_EQ(Line(1.3), " 130.0 [||||||||||||||||||||]\r");
  EXPECT_EQ(Line(-0.02), " -2.0 [                    ]\r");
  EXPECT_EQ(Line(1e300).substr(0, 2), " 1");
  EXPECT_EQ(Line(std::nan("")), "  nan [                    ]\r");

  // The bar is rebuilt only when the number of cells changes.
  int lastCells = -1;
  std::string bar;
  ProgressLine(0.10, &lastCells, &bar);
  EXPECT_EQ(lastCells, 2);
  bar = " [kept]";
  EXPECT_EQ(ProgressLine(0.14, &lastCells, &bar), " 14.0 [kept]\r");
  EXPECT_EQ(ProgressLine(0.15, &lastCells, &bar), " 15.0 [|||                 ]\r");
}

TEST(Runner, BannerThenOneLinePerPollAndTheOutputDecides) {
  TempDir dir;
  EXPECT_EQ(Banner(), "Kestrune 0.1.0\n");

  // The body holds until the runner has printed its first progress line,
  // and the runner's printer waits for the end (an idle-priority worker may
  // get no processor for a while on a busy machine): exactly one line.
  std::atomic<bool> printed{false};
  BodyConversion conversion([&](ConversionJob&) {
    while (!printed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  conversion.SetProgress(0.5);
  conversion.SetOutputPath(dir / "out.csv");
  std::string console;
  EXPECT_FALSE(RunConversion(conversion, [&](const std::string& text) {
    console += text;
    if (text.back() != '\r') return;
    printed = true;
    testing::WaitUntilEnded(conversion);
  }));
  EXPECT_EQ(console, "Kestrune 0.1.0\n 50.0 [||||||||||          ]\r");

  // A body that ends before the first poll: banner only. With an output
  // file in place the result is true; a folder does not count.
  std::ofstream(dir / "out.csv") << "x";
  console.clear();
  BodyConversion quick([&](ConversionJob&) {});
  quick.SetOutputPath(dir / "out.csv");
  EXPECT_TRUE(RunConversion(quick, [&](const std::string& text) {
    console += text;
    testing::WaitUntilEnded(quick);
  }));
  EXPECT_EQ(console, "Kestrune 0.1.0\n");
  quick.SetOutputPath(dir.str());
  EXPECT_FALSE(RunConversion(quick, [&](const std::string& text) {
    if (text.back() == '\n') testing::WaitUntilEnded(quick);
  }));
  EXPECT_EQ(ExitCodeForOutput(dir / "out.csv"), 0);
  EXPECT_EQ(ExitCodeForOutput(dir.str()), 1);
  EXPECT_EQ(ExitCodeForOutput(dir / "none"), 1);
}

TEST(Runner, RefusedStartPrintsTheTranslatedMessageOnly) {
  GetMessageCatalog().ParseText(
      "[Text]\r\nThe cda file was not able to be converted into the wav file.=NO\\n\r\n", false);
  BodyConversion refused([](ConversionJob&) {}, false);
  std::string console;
  EXPECT_FALSE(RunConversion(refused, [&](const std::string& text) { console += text; }));
  EXPECT_EQ(console, "NO\n");
  GetMessageCatalog().Clear();

  // A job that still runs refuses a second start and is left alone.
  std::atomic<bool> release{false};
  BodyConversion busy([&](ConversionJob& job) {
    while (!release && !job.stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_TRUE(busy.Start());
  console.clear();
  EXPECT_FALSE(RunConversion(busy, [&](const std::string& text) { console += text; }));
  EXPECT_EQ(console, "The cda file was not able to be converted into the wav file.");
  EXPECT_TRUE(busy.IsRunning());
  release = true;
}

TEST(Runner, AFaultingBodyIsReportedAndTheRunnerWaitsForTheBox) {
  testing::RecordingUserInterface ui;
  std::atomic<bool> boxOpen{false};
  std::atomic<bool> closeBox{false};
  ui.whileOpen = [&] {
    boxOpen = true;
    while (!closeBox) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  BodyConversion faulting([](ConversionJob&) { RaiseFault(kHresultInvalidArgument); });
  std::atomic<bool> returned{false};
  std::string console;
  std::thread runner([&] {
    EXPECT_FALSE(RunConversion(faulting, [&](const std::string& text) { console += text; }));
    returned = true;
  });
  while (!boxOpen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(returned);
  closeBox = true;
  runner.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(console.substr(0, 15), "Kestrune 0.1.0\n");
  const auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Exception");
  EXPECT_EQ(boxes[0].text.substr(0, 20), "OS error occurred.\r\n");
}

}  // namespace
}  // namespace kestrune
