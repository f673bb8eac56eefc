// The replies to the update check, the user-information request and the three
// track requests (videos, buy links, lyrics link).
//
// Every parser takes the body as (text, length): a null text is an empty body,
// the text need not be terminated and is never written. Each starts by
// resetting LastServerError (ServerError.h). A body that is not XML (or is too
// big or too deep to parse safely) gives false with nothing pending; a reply
// without the expected element gives false with the server's error, if it
// carried one, pending.
#pragma once

#include <cstddef>

#include "platform/base/Strings.h"

class CSearchResults;

// True when the reply offers an update (it has "message_url"); the offer goes
// into the model's update message. Unless the reply says "no-update", its
// "update_information" writes the search length limits (clamped to 5..30)
// and the feature switches, whatever the result. An error reply gives false.
bool ParseUpdateReply(CSearchResults& model, const char* text, size_t length);

// Reads "user_information": the user name, the picture to fetch (PngImageName
// of "user_primary_image", ".png" when absent) and the home page. The five
// further texts have no source in the reply and are emptied. Outputs change
// only on success.
bool ParseUserInformation(const char* text, size_t length, plat::WString& username,
                          plat::WString& image, plat::WString (&further)[5], plat::WString& homepage);
bool ParseUserInformation(const char* text, plat::WString& username, plat::WString& image,
                          plat::WString (&further)[5], plat::WString& homepage);

// Replaces the model's videos by the reply's; an empty "videos" is a success
// with no videos.
bool ParseVideos(CSearchResults& model, const char* text, size_t length);

// Replaces the model's buy links by the reply's. A single link with status
// "not-found" means none: false, no links, nothing pending.
bool ParseBuyLinks(CSearchResults& model, const char* text, size_t length);

// Replaces the model's lyrics link by the reply's. Status "not-found" means
// none: false, no link, nothing pending.
bool ParseLyricsLink(CSearchResults& model, const char* text, size_t length);
