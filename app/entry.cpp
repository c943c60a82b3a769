#include "app/entry.h"

#include "app/convert_options.h"
#include "app/dispatch.h"
#include "app/message_catalog.h"
#include "app/path_names.h"
#include "app/runner.h"
#include "app/search_boxes.h"
#include "base/platform/platform.h"
#include "base/translation.h"

namespace kestrune {

int RunKestrune(const std::vector<std::string>& arguments) {
  ConvertOptions options;
  options.ParseArguments(arguments);

  // The foundation's own texts (the fault report) use the catalogue too.
  SetTranslator([](const std::string& text) { return Translate(text); });
  if (platform::CurrentUserInterface().GetUserDefaultLangID() == kJapaneseLanguageId) {
    GetMessageCatalog().LoadLanguageFile(kLanguageFileName, false);
  }

  if (options.outputPath.empty() || options.inputPath.empty()) {
    platform::WriteStandardOutput(Translate("The input or the output file is not set."));
    return 1;
  }
  const bool decode = IsWavePath(options.outputPath);
  if (!decode && !IsWavePath(options.inputPath)) {
    platform::WriteStandardOutput(Translate("The input or the output file is not Wave file."));
    return 1;
  }

  const std::string extension =
      GetLowerExtension(decode ? options.inputPath : options.outputPath);
  const ConversionKind* kind =
      FindConversion(decode ? Direction::kDecode : Direction::kEncode, extension);
  if (!kind) {
    ShowUnsupportedExtension(extension);
    return ExitCodeForOutput(options.outputPath);
  }

  bool ran;
  {
    std::unique_ptr<Conversion> conversion = kind->make(options);
    if (!conversion->LibrariesLoaded()) {
      ShowMissingVorbisLibraries();
      return 1;
    }
    conversion->SetInputPath(options.inputPath);
    conversion->SetOutputPath(options.outputPath);
    ran = RunConversion(*conversion);
  }  // destroyed (job stopped, libraries and temporary files released)
  return ran ? ExitCodeForOutput(options.outputPath) : 1;
}

}  // namespace kestrune
