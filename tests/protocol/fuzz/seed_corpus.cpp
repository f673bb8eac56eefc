// Writes the seed corpus: every reply document of the tests and the hostile
// shapes the parsers must survive, one file each, into the folder given.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ReplyDocuments.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  std::vector<std::string> documents = replydocs::AllDocuments();
  std::string hidden = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><orlamet>";
  for (int i = 0; i < 2000; ++i) hidden += "<a>\xE0</b>";
  documents.push_back(hidden);
  documents.push_back(replydocs::DeepNesting(300));
  // Just past the markup limits, so that mutations explore both sides.
  std::string wide = "<orlamet";
  for (int i = 0; i < 257; ++i) wide += " a" + std::to_string(i) + "='x'";
  documents.push_back(wide + "/>");
  std::string many = "<orlamet>";
  for (int i = 0; i < 40001; ++i) many += "<a/>";
  documents.push_back(many + "</orlamet>");
  documents.push_back("<orlamet a='1' a='2'/>");
  documents.push_back("<orlamet><!--tracks-->tracks<tracks><!--track--></tracks></orlamet>");
  documents.push_back("<orlamet message_type='error' message_text='cut'><tracks>");
  documents.push_back("\xEF\xBB\xBF<orlamet total_records='1'><tracks><track track_name='&#x4E2D;'><artists><artist/></artists></track></tracks></orlamet>");
  documents.push_back(std::string("<orlamet>\0<tracks/></orlamet>", 28));

  std::error_code ec;
  std::filesystem::create_directories(argv[1], ec);
  for (size_t i = 0; i < documents.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "seed-%02zu.xml", i);
    std::ofstream out(std::filesystem::path(argv[1]) / name, std::ios::binary | std::ios::trunc);
    out.write(documents[i].data(), static_cast<std::streamsize>(documents[i].size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", name);
      return 1;
    }
  }
  return 0;
}
