#include "protocol/ServerError.h"

#include <tinyxml.h>

#include <cstring>
#include <utility>

#include "protocol/AppSettings.h"
#include "protocol/ReplyXml.h"

TLastServerError LastServerError;

namespace {

constexpr int32_t kKoreanLanguage = 18;
// "The recording is too short. Please record for 5 seconds or more."
constexpr char16_t kKoreanErrorText[] = u"녹음길이가 너무 짧습니다. 5초 이상 녹음 해 주세요.";

bool IsErrorType(const char* type) {
  return type && (std::strcmp(type, "error") == 0 || std::strcmp(type, "error_query") == 0 ||
                  std::strcmp(type, "error_busy") == 0);
}

const TiXmlElement* OrlametRoot(const TiXmlDocument& doc) {
  const TiXmlElement* root = ReplyXml::Root(doc);
  return root && std::strcmp(root->Value(), "orlamet") == 0 ? root : nullptr;
}

}  // namespace

void TLastServerError::Reset() { *this = TLastServerError(); }

bool IsErrorReply(const TiXmlDocument& doc) {
  const TiXmlElement* root = OrlametRoot(doc);
  return !root || ReplyXml::Child(root, "error") || IsErrorType(root->Attribute("message_type"));
}

void ParseServerError(const TiXmlDocument& doc) {
  LastServerError.Reset();
  if (const TiXmlElement* root = OrlametRoot(doc)) {
    if (IsErrorType(root->Attribute("message_type"))) {
      LastServerError.m_type = ReplyXml::Text(root, "message_persistence");
      LastServerError.m_text = ReplyXml::Text(root, "message_text");
      LastServerError.m_bPending = true;
    } else if (const TiXmlElement* error = ReplyXml::Child(root, "error")) {
      LastServerError.m_type = ReplyXml::Text(error, "type");
      LastServerError.m_text = ReplyXml::Text(error, "display_text");
      LastServerError.m_link = ReplyXml::Text(error, "url");
      const char* required = error->Attribute("required");
      LastServerError.m_bRequired = required && (required[0] == 't' || required[0] == 'T');
      LastServerError.m_bPending = true;
    }
  }
  if (*CurrentLanguageIndex() == kKoreanLanguage) LastServerError.m_text = kKoreanErrorText;
}

bool GetServerErrorMessage(TServerMessage& out) {
  if (!LastServerError.m_bPending) return false;
  out.m_type = LastServerError.m_type;
  out.m_text = LastServerError.m_text;
  out.m_link = LastServerError.m_link;
  out.m_bRequired = LastServerError.m_bRequired ? 1 : 0;
  return true;
}

bool GetShowableServerError(TServerMessage& out) {
  TServerMessage message;
  if (!GetServerErrorMessage(message)) return false;
  if (message.m_text.empty() && !message.IsCheckForUpdate() && !message.IsExit()) return false;
  out = std::move(message);
  return true;
}
