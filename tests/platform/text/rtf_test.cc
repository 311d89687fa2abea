#include "platform/text/rtf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>

#include "platform/files/file_system.h"
#include "platform/foundation/property_list_unicode.h"
#include "platform/text/rtfd.h"
#include "platform/text/text_fixtures.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

AttributedString read(std::string_view rtf) {
  Error error;
  auto result = readRTF(rtf, {}, &error);
  EXPECT_TRUE(result) << error.description();
  return result ? result->text : AttributedString();
}

TEST(RTFTest, WrittenTextReadsBackWithEveryAttribute) {
  AttributedString sample = testing::richSample();
  std::string rtf = rtfFromAttributedString(sample);
  EXPECT_EQ(read(rtf), sample) << rtf;
}

TEST(RTFTest, TextListsKeepTheirMarkersAndLists) {
  Font body = Font::withFamily("Helvetica Neue", 12);
  ParagraphStyle checked, numbered;
  checked.headIndent = numbered.headIndent = 36;
  checked.textLists = {{"{check}", 1}};
  numbered.textLists = {{"{decimal}", 3}};
  AttributedString text;
  text.appendText(u"\t\u2713\tdone\n", {{kFontAttributeName, body}, {kParagraphStyleAttributeName, checked}});
  text.appendText(u"\t3.\tthird\n", {{kFontAttributeName, body}, {kParagraphStyleAttributeName, numbered}});
  text.appendText(u"after", {{kFontAttributeName, body}});
  std::string rtf = rtfFromAttributedString(text);
  EXPECT_NE(rtf.find("{\\listtext \\tab \\u10003?\\tab }"), std::string::npos) << rtf;
  EXPECT_EQ(read(rtf), text) << rtf;
}

TEST(RTFTest, ReadsHandWrittenDocuments) {
  AttributedString text = read(
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times;}{\\f1\\fmodern Courier;}}"
      "{\\colortbl;\\red255\\green0\\blue0;}\n"
      "\\f0\\fs20 Hello {\\b bold}{\\i  it}\\cf1  red\\cf0\\par\n"
      "\\f1 caf\\'e9 \\u8364? \\uc2\\u8212xx end\\line x\\~y}");
  EXPECT_EQ(text.string(), "Hello bold it red\ncaf\u00e9 \u20ac \u2014 end\u2028x\u00a0y");
  auto font = attributeAs<Font>(text.attributesAt(6), kFontAttributeName);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->name(), "Times-Bold");
  EXPECT_EQ(font->pointSize(), 10);
  EXPECT_EQ(attributeAs<Font>(text.attributesAt(11), kFontAttributeName)->name(), "Times-Italic");
  auto red = attributeAs<Color>(text.attributesAt(15), kForegroundColorAttributeName);
  ASSERT_TRUE(red);
  EXPECT_TRUE(red->isApproximatelyEqual(Color::rgb(1, 0, 0)));
  EXPECT_EQ(attributeAs<Font>(text.attributesAt(19), kFontAttributeName)->name(), "Courier");
}

TEST(RTFTest, ReadsLinksAndSkipsUnknownDestinations) {
  AttributedString text = read(
      "{\\rtf1{\\*\\generator Someone;}{\\info{\\title T}}{\\*\\unknowndest secret}"
      "See {\\field{\\*\\fldinst{HYPERLINK \"http://x.org/\"}}{\\fldrslt site}} now}");
  EXPECT_EQ(text.string(), "See site now");
  auto link = attributeAs<std::string>(text.attributesAt(4), kLinkAttributeName);
  ASSERT_TRUE(link);
  EXPECT_EQ(*link, "http://x.org/");
  EXPECT_FALSE(attributeAs<std::string>(text.attributesAt(9), kLinkAttributeName));
}

TEST(RTFTest, HostileInputGivesAnErrorOrBestEffortText) {
  Error error;
  EXPECT_FALSE(readRTF("plain text", {}, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileReadCorruptFileError));
  EXPECT_FALSE(readRTF(std::string(100000, '{'), {}, &error));
  std::string deep = "{\\rtf1 " + std::string(100000, '{') + "x" + std::string(100000, '}') + "}";
  EXPECT_FALSE(readRTF(deep, {}, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileReadCorruptFileError));

  EXPECT_EQ(read("{\\rtf1 truncated {\\b text").string(), "truncated text");
  EXPECT_EQ(read("{\\rtf1 a}}}} b").string(), "a");
  EXPECT_EQ(read("{\\rtf1\\fs99999999999999999999999 big\\u99999999999? \\uc99999999999\\u-99999999 x}").string(),
            "big\uFFFD \uFFFD");
  EXPECT_EQ(read("{\\rtf1 broken \\u \\u-\\'zz\\'4").string(), "broken -zz4");
  EXPECT_EQ(read("{\\rtf1 \\").string(), "");
  EXPECT_EQ(read("{\\rtf1{\\colortbl\\red999999;}\\cf999999 c\\f-5 d}").string(), "cd");
}

TEST(RTFTest, SurvivesRandomMutations) {
  std::mt19937 random(1515);
  const std::string valid = rtfFromAttributedString(testing::richSample());
  for (int iteration = 0; iteration < 3000; ++iteration) {
    std::string bytes = valid;
    for (int edits = 1 + random() % 6; edits > 0; --edits) {
      size_t at = random() % bytes.size();
      switch (random() % 5) {
        case 0: bytes[at] = "{}\\;'u-9 \0"[random() % 10]; break;
        case 1: bytes[at] = static_cast<char>(random()); break;
        case 2: bytes.resize(std::max<size_t>(at, 1)); break;
        case 3: bytes.insert(at, std::string(1 + random() % 40, "{}\\"[random() % 3])); break;
        case 4: bytes.erase(at, random() % 20); break;
      }
      if (bytes.empty()) bytes = "{";
    }
    if (auto result = readRTF(bytes, {}))  // must not crash
      (void)rtfFromAttributedString(result->text);
  }
}

TEST(RTFTest, PackagesKeepAttachmentsAndRefuseNamesOutsideThePackage) {
  AttributedString text = AttributedString::fromUTF8("Before ");
  auto image = std::shared_ptr<FileWrapper>(FileWrapper::regularFile("PNG bytes"));
  image->setPreferredFilename("image.png");
  auto second = std::shared_ptr<FileWrapper>(FileWrapper::regularFile("other PNG"));
  second->setPreferredFilename("image.png");
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(image)));
  text.append(AttributedString::fromUTF8(" between "));
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(second)));

  Error error;
  auto package = rtfdFileWrapper(text, &error);
  ASSERT_TRUE(package) << error.description();
  ASSERT_TRUE(package->child("image.png"));
  ASSERT_TRUE(package->child("image 2.png"));
  auto read = readRTFD(*package, &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(read->text.string(), "Before \uFFFC between \uFFFC");
  auto attachments = read->text.attachments();
  ASSERT_EQ(attachments.size(), 2u);
  EXPECT_EQ(attachments[0].second->fileWrapper()->regularFileContents(), "PNG bytes");
  EXPECT_EQ(attachments[1].second->fileWrapper()->regularFileContents(), "other PNG");
  EXPECT_EQ(read->documentAttributes[kDocumentTypeDocumentAttribute], kRTFDTextDocumentType);

  auto hostile = FileWrapper::directory();
  ASSERT_TRUE(hostile->addChild(
      "TXT.rtf", FileWrapper::regularFile("{\\rtf1 a{{\\NeXTGraphic ../../etc/passwd}\\'ac}b{{\\NeXTGraphic TXT.rtf}"
                                          "\\'ac}c{{\\NeXTGraphic missing.png}\\'ac}d}")));
  read = readRTFD(*hostile, &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(read->text.string(), "abcd");
  EXPECT_FALSE(readRTFD(*FileWrapper::regularFile("{\\rtf1 x}"), &error));
}

// The text of unrtf's HTML rendering (its plain-text mode drops characters
// outside Latin-1), with tags removed and character references decoded.
std::string textOfHTML(const std::string& html) {
  static const std::map<std::string, std::string> kNamed = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"eacute", "\u00e9"}, {"euro", "\u20ac"},
      {"mdash", "\u2014"}, {"nbsp", " "}};
  std::string text;
  for (size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '<') {
      i = html.find('>', i);
      if (i == std::string::npos) break;
      continue;
    }
    size_t end = html[i] == '&' ? html.find(';', i) : std::string::npos;
    if (end == std::string::npos || end - i > 10) {
      text += html[i];
      continue;
    }
    std::string name = html.substr(i + 1, end - i - 1);
    if (!name.empty() && name[0] == '#') {
      appendUTF8(text, static_cast<char32_t>(std::stoul(name.substr(1))));
    } else if (auto found = kNamed.find(name); found != kNamed.end()) {
      text += found->second;
    } else {
      text += "&" + name + ";";
    }
    i = end;
  }
  return text;
}

// An independent reader: unrtf, from Debian's packages, in one of its
// output formats ("html" or "rtf").
std::optional<std::string> unrtf(const std::string& path, const std::string& format) {
  if (std::system("command -v unrtf >/dev/null 2>&1") != 0) return std::nullopt;
  std::string output;
  FILE* pipe = ::popen(("unrtf --nopict --" + format + " '" + path + "' 2>/dev/null").c_str(), "r");
  if (!pipe) return std::nullopt;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

TEST(RTFTest, AnIndependentReaderSeesTheTextAndAttachmentNames) {
  ScratchDirectory scratch;
  AttributedString text = testing::richSample();
  auto file = std::shared_ptr<FileWrapper>(FileWrapper::regularFile("zip"));
  file->setPreferredFilename("Archive.zip");
  text.append(AttributedString::withAttachment(std::make_shared<TextAttachment>(file)));
  auto package = rtfdFileWrapper(text);
  ASSERT_TRUE(package);
  ASSERT_TRUE(package->writeToPath(scratch.path("Note.rtfd"), true));
  auto html = unrtf(scratch.path("Note.rtfd/TXT.rtf"), "html");
  if (!html) GTEST_SKIP() << "unrtf is not installed";
  auto output = std::optional<std::string>(textOfHTML(*html));
  for (const char* expected : {"Plain {braces} \\ back", "Bold italic red marked struck", "Centred caf\u00e9",
                               "\u20ac", "\u4e2d\u6587", "Archive.zip"})
    EXPECT_NE(output->find(expected), std::string::npos) << expected << " in:\n" << *output;
}

TEST(RTFTest, ReadsWhatAnIndependentWriterWrites) {
  ScratchDirectory scratch;
  std::string path = scratch.path("sample.rtf");
  ASSERT_TRUE(writeFileAtomically(path, rtfFromAttributedString(testing::richSample())));
  auto rtf = unrtf(path, "rtf");
  if (!rtf) GTEST_SKIP() << "unrtf is not installed";
  Error error;
  auto read = readRTF(*rtf, {}, &error);
  ASSERT_TRUE(read) << error.description() << "\n" << *rtf;
  std::string text = read->text.string();
  // unrtf writes braces and backslashes of the text unescaped, so only
  // words are compared.
  for (const char* expected : {"Plain", "back", "slash", "Bold", "italic red marked struck", "Centred caf\u00e9",
                               "\u4e2d\u6587"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << " in:\n" << text << "\nfrom:\n" << *rtf;
  size_t bold = text.find("Bold");
  ASSERT_NE(bold, std::string::npos);
  auto font = attributeAs<Font>(read->text.attributesAt(read->text.text().find(u"Bold")), kFontAttributeName);
  ASSERT_TRUE(font);
  EXPECT_TRUE(font->isBold());
}

}  // namespace
}  // namespace qlt
