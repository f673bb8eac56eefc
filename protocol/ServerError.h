// Server messages: the error replies any request may get, kept as the one
// program-wide last server error until a screen shows it.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"

class TiXmlDocument;

// A server message as the screens receive it.
struct TServerMessage {
  plat::WString m_type;
  plat::WString m_text;
  plat::WString m_link;
  uint8_t m_bRequired = 0;

  // The directives, which act without a text; servers send either spelling.
  bool IsCheckForUpdate() const { return m_type == u"checkForUpdate" || m_type == u"CheckForUpdate"; }
  bool IsExit() const { return m_type == u"exit" || m_type == u"Exit"; }
};

struct TLastServerError {
  bool m_bPending = false;
  plat::WString m_type;
  plat::WString m_text;
  plat::WString m_link;
  bool m_bRequired = false;

  // Nothing pending, every field empty.
  void Reset();
};

// Written by every reply parser; every parser starts by resetting it, so a
// message is only ever pending for the reply just parsed. UI thread only.
extern TLastServerError LastServerError;

// Whether a parsed reply is an error reply: a root element other than
// "orlamet" (or none), a child element "error", or a root "message_type" of
// "error", "error_query" or "error_busy".
bool IsErrorReply(const TiXmlDocument& doc);

// Resets LastServerError and fills it from an error reply: the root's
// "message_persistence" and "message_text" for a root "message_type" error,
// else the "error" element's "type", "display_text", "url" and "required"
// (true when it begins with 't' or 'T'). With the Korean interface (language
// 18) the text is always the fixed Korean sentence, also with nothing pending.
void ParseServerError(const TiXmlDocument& doc);

// Copies a pending last server error into `out` and returns true; otherwise
// returns false and leaves `out` alone. Pending stays as it is.
bool GetServerErrorMessage(TServerMessage& out);

// GetServerErrorMessage for the replies that show the message in place of
// what they asked for (the search replies, the user model's requests): an
// error without text counts as none unless its type is a directive
// (checkForUpdate, exit, in either spelling), which acts without one. An empty
// message screen would tell the user nothing.
bool GetShowableServerError(TServerMessage& out);
