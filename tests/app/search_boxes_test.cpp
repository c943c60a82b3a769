#include "app/search_boxes.h"

#include <gtest/gtest.h>

#include "app/message_catalog.h"
#include "tests/support/recording_ui.h"

namespace kestrune {
namespace {

using testing::RecordingUserInterface;

TEST(SearchBoxes, UnsupportedExtensionOffersASearchForTheExtension) {
  RecordingUserInterface ui;
  ui.answer = platform::kIdYes;
  EXPECT_TRUE(ShowUnsupportedExtension(".flac"));
  ui.answer = platform::kIdNo;
  EXPECT_TRUE(ShowUnsupportedExtension(".wav"));
  ui.answer = platform::kIdYes;
  EXPECT_TRUE(ShowUnsupportedExtension(""));
  EXPECT_TRUE(ShowUnsupportedExtension(".a.b c"));

  const auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 4u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text,
              "The extension is not supported.\r\n"
              "Is it searched for the Harmoloft command line by the browser?");
    EXPECT_EQ(box.caption, "Kestrune");
    EXPECT_EQ(box.style, 4u);
    EXPECT_FALSE(box.owned);
  }
  const auto opened = ui.OpenedAddresses();
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0].address, "https://www.kestrune.org/search.php?query=command line flac");
  EXPECT_EQ(opened[0].showCommand, 5);
  EXPECT_EQ(opened[1].address, "https://www.kestrune.org/search.php?query=command line ");
  EXPECT_EQ(opened[2].address, "https://www.kestrune.org/search.php?query=command line ab c");
}

TEST(SearchBoxes, MissingVorbisLibrariesAndTranslatedTexts) {
  RecordingUserInterface ui;
  ShowMissingVorbisLibraries();
  ui.answer = platform::kIdYes;
  GetMessageCatalog().ParseText(
      "[Text]\r\nIs it searched for Ogg Vorbis DLL by the browser?=\"SEARCH?\"\r\n", false);
  ShowMissingVorbisLibraries();
  GetMessageCatalog().Clear();
  const auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  const std::string head =
      "There are no ogg.dll, vorbis.dll, vorbisfile.dll and vorbisenc.dll.\r\n"
      "(otherwise libogg.dll, libvorbis.dll and libvorbisfile.dll)\r\n";
  EXPECT_EQ(boxes[0].text, head + "Is it searched for Ogg Vorbis DLL by the browser?");
  EXPECT_EQ(boxes[1].text, head + "SEARCH?");
  EXPECT_EQ(boxes[1].caption, "Kestrune");
  EXPECT_EQ(boxes[1].style, 4u);
  const auto opened = ui.OpenedAddresses();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].address, "https://www.kestrune.org/search.php?query=Ogg Vorbis DLL");
}

}  // namespace
}  // namespace kestrune
