// Server reply documents shared by the parser tests and the fuzzers' seed
// corpus. Each is what the server sends, or a hostile variant of it.
#pragma once

#include <string>
#include <vector>

namespace replydocs {

#define QUOREL_XML_DECL "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"

inline constexpr char kFlatSearch[] = QUOREL_XML_DECL R"(<orlamet search_id="s-1001" total_records="2" records_start="1" records_end="2">
  <tracks>
    <track track_id="t1" album_id="al1" track_name="First Song" album_name="First Album"
           audio_preview_url="http://127.0.0.1:8080/media/t1.mp3"
           video_url="http://127.0.0.1:8080/v2/?method=getVideos&amp;track_id=t1"
           album_primary_image="http://127.0.0.1:8080/img/al1.jpg">
      <artists>
        <artist artist_id="ar1" artist_name="Some Artist" artist_primary_image="http://127.0.0.1:8080/img/ar1.jpg"/>
        <artist artist_id="ar2" artist_name="Guest Artist" artist_primary_image=""/>
      </artists>
      <recordings>
        <recording recording_id="r1" full_url="http://127.0.0.1:8080/rec/r1.mp3"
                   matched_url="http://127.0.0.1:8080/rec/r1-match.mp3">
          <users><user username="alice" user_primary_image="http://127.0.0.1:8080/img/alice.jpg"/>
                 <user username="bob" user_primary_image=""/></users>
        </recording>
        <recording recording_id="r1b" full_url="x" matched_url="y">
          <users><user username="carol"/></users>
        </recording>
      </recordings>
    </track>
    <track track_id="t2" album_id="al2" track_name="Second Song" album_name="Second Album">
      <artists><artist artist_id="ar3" artist_name="Other Artist"/></artists>
      <recordings>
        <recording recording_id="r2" full_url="http://127.0.0.1:8080/rec/r2.mp3" matched_url="">
          <users><user username="dave" user_primary_image="http://127.0.0.1:8080/img/dave"/></users>
        </recording>
      </recordings>
    </track>
  </tracks>
</orlamet>)";

// Three tracks over two name groups, with an empty artist group and an empty
// name group, and a flat "tracks" beside the grouping that must be ignored.
inline constexpr char kGroupedSearch[] = QUOREL_XML_DECL R"(<orlamet search_id="s-1002" total_records="0" records_start="1" records_end="3">
  <tracks><track track_id="flat"><artists><artist/></artists><recordings><recording><users><user/></users></recording></recordings></track></tracks>
  <tracks_grouped>
    <track_name_group>
      <artist_name_group><tracks><track track_id="g1" track_name="One"><artists><artist artist_name="A"/></artists>
        <recordings><recording recording_id="gr1"><users><user username="u1"/></users></recording></recordings></track></tracks></artist_name_group>
      <artist_name_group/>
      <artist_name_group><tracks><track track_id="g2" track_name="Two"><artists><artist artist_name="B"/></artists>
        <recordings><recording recording_id="gr2"><users><user username="u2"/></users></recording></recordings></track></tracks></artist_name_group>
    </track_name_group>
    <track_name_group/>
    <track_name_group>
      <artist_name_group><tracks/><tracks><track track_id="g3" track_name="Three"><artists><artist artist_name="C"/></artists>
        <recordings><recording recording_id="gr3"><users><user username="u3"/></users></recording></recordings></track></tracks></artist_name_group>
    </track_name_group>
  </tracks_grouped>
</orlamet>)";

// A playlist whose tracks carry no recordings: only the first track counts.
inline constexpr char kSingleTrack[] = QUOREL_XML_DECL R"(<orlamet total_records="1" search_id="ignored"><tracks>
  <track track_id="t9" album_id="al9" track_name="Nine" album_name="Album Nine"
         audio_preview_url="http://127.0.0.1:8080/media/t9.mp3" album_primary_image="http://h/img/a9.jpg">
    <artists><artist artist_id="ar9" artist_name="X" artist_primary_image=""/></artists>
  </track>
  <track track_id="t10"><artists><artist artist_name="Y"/></artists></track>
</tracks></orlamet>)";

inline constexpr char kEmptySearch[] = QUOREL_XML_DECL
    R"(<orlamet search_id="s-1003" total_records="0" records_start="1" records_end="0"/>)";

inline constexpr char kRootError[] = QUOREL_XML_DECL
    R"(<orlamet message_type="error" message_text="Recording is too short" message_persistence="serverMessage"/>)";

inline constexpr char kElementError[] = QUOREL_XML_DECL
    R"(<orlamet><error type="serverMessage" display_text="Please visit our site" url="http://127.0.0.1:8080/info" required="true"/></orlamet>)";

inline constexpr char kUpdateOffer[] = QUOREL_XML_DECL R"(<orlamet message_url="http://127.0.0.1:8080/dl/update.cab" message_type="update" message_text="Version 1.7 is available"
         message_persistence="optional" message_id="42">
  <update_information>
    <grab minimum_search_length="8" maximum_search_length="20"/>
    <license_logo enabled="1"/><videos enabled="0"/><previews enabled="1"/><lyrics_search enabled="1"/>
  </update_information>
</orlamet>)";

inline constexpr char kNoUpdate[] = QUOREL_XML_DECL R"(<orlamet><no-update/>
  <update_information><grab minimum_search_length="9" maximum_search_length="9"/><videos enabled="0"/></update_information>
</orlamet>)";

inline constexpr char kUserInformation[] = QUOREL_XML_DECL
    R"(<orlamet><user_information username="alice" homepage_url="http://127.0.0.1:8080/u/alice" user_primary_image="http://127.0.0.1:8080/img/alice.jpg"/></orlamet>)";

inline constexpr char kVideos[] = QUOREL_XML_DECL R"(<orlamet><videos>
  <video video="http://127.0.0.1:8080/watch/v1" title="Live" description="Concert" created="2009-05-01"
         views_count="1234" rating_average="4.5" duration="215">
    <thumbnails><thumbnail url="http://127.0.0.1:8080/img/v1.jpg" time="00:00:10"/><thumbnail url="t2" time="00:01:00"/></thumbnails>
  </video>
  <video video="http://127.0.0.1:8080/watch/v2" views_count="-3" rating_average="abc"/>
</videos></orlamet>)";

inline constexpr char kEmptyVideos[] = QUOREL_XML_DECL "<orlamet><videos/></orlamet>";

inline constexpr char kBuyLinks[] = QUOREL_XML_DECL R"(<orlamet><buy_links>
  <buy_link url="http://127.0.0.1:8080/buy/t1" url_title="Buy now" store="s1" store_name="Music Store" status="found"/>
  <buy_link url="http://127.0.0.1:8080/buy/t1b" url_title="Or here" store="s2" store_name="Other Store" status="found"/>
</buy_links></orlamet>)";

inline constexpr char kBuyLinkNotFound[] = QUOREL_XML_DECL
    R"(<orlamet><buy_links><buy_link url="" store_name="" status="not-found"/></buy_links></orlamet>)";

inline constexpr char kLyrics[] = QUOREL_XML_DECL
    R"(<orlamet><lyrics_link url="http://127.0.0.1:8080/lyrics/t1" status="found"/></orlamet>)";

inline constexpr char kLyricsNotFound[] = QUOREL_XML_DECL
    R"(<orlamet><lyrics_link url="" status="not-found"/></orlamet>)";

#undef QUOREL_XML_DECL

// Elements nested `depth` deep inside an "orlamet" root.
inline std::string DeepNesting(int depth, const std::string& open = "<a>") {
  std::string text = "<orlamet>";
  for (int i = 0; i < depth; ++i) text += open;
  return text;
}

// A grouped search reply of `count` complete tracks, in groups of ten.
inline std::string GroupedSearchOf(int count) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orlamet search_id=\"s-big\" total_records=\"0\" "
                     "records_start=\"1\" records_end=\"" + std::to_string(count) + "\"><tracks_grouped>";
  for (int i = 0; i < count; ++i) {
    if (i % 10 == 0) text += "<track_name_group><artist_name_group><tracks>";
    std::string n = std::to_string(i);
    text += "<track track_id=\"t" + n + "\" album_id=\"al" + n + "\" track_name=\"Song " + n +
            "\" album_name=\"Album " + n + "\" audio_preview_url=\"http://127.0.0.1:8080/media/t" + n +
            ".mp3\" video_url=\"http://127.0.0.1:8080/v2/?method=getVideos&amp;track_id=t" + n +
            "\" album_primary_image=\"http://127.0.0.1:8080/img/al" + n + ".jpg\"><artists><artist artist_id=\"ar" + n +
            "\" artist_name=\"Artist " + n + "\" artist_primary_image=\"http://127.0.0.1:8080/img/ar" + n +
            ".jpg\"/></artists><recordings><recording recording_id=\"r" + n +
            "\" full_url=\"http://127.0.0.1:8080/rec/r" + n + ".mp3\" matched_url=\"http://127.0.0.1:8080/rec/r" + n +
            "-m.mp3\"><users><user username=\"user" + n + "\" user_primary_image=\"http://127.0.0.1:8080/img/u" + n +
            ".jpg\"/></users></recording></recordings></track>";
    if (i % 10 == 9 || i == count - 1) text += "</tracks></artist_name_group></track_name_group>";
  }
  text += "</tracks_grouped></orlamet>";
  return text;
}

// Every document above, for the seed corpus.
inline std::vector<std::string> AllDocuments() {
  return {kFlatSearch,  kGroupedSearch, kSingleTrack, kEmptySearch,     kRootError,
          kElementError, kUpdateOffer,   kNoUpdate,    kUserInformation, kVideos,
          kEmptyVideos,  kBuyLinks,      kBuyLinkNotFound, kLyrics,     kLyricsNotFound,
          GroupedSearchOf(12)};
}

}  // namespace replydocs
