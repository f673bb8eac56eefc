#include "tools/protocol-server/Options.h"

#include "tools/protocol-server/Faults.h"
#include "tools/protocol-server/Util.h"

namespace qps {

namespace {

bool ParseOnOff(const std::string& value, bool& out) {
  if (value == "on" || value == "1" || value == "true") {
    out = true;
    return true;
  }
  if (value == "off" || value == "0" || value == "false") {
    out = false;
    return true;
  }
  return false;
}

bool ParseBoundedInt(const std::string& value, long long min, long long max, long long& out) {
  return ParseInt(value, out) && out >= min && out <= max;
}

bool Is32BitInteger(const std::string& value) {
  long long v = 0;
  return ParseInt(value, v) && v >= -2147483648LL && v <= 2147483647LL;
}

// "amg=0,video=1,previews=1,lyrics=1": the four switches of the update reply.
bool ParseSwitches(const std::string& value, UpdateSettings& update, std::string& error) {
  for (const std::string& item : Split(value, ',')) {
    auto kv = Split(item, '=', 2);
    std::string element;
    if (kv.size() == 2) {
      const std::string& k = kv[0];
      if (k == "amg" || k == "license_logo") element = "license_logo";
      else if (k == "video" || k == "videos") element = "videos";
      else if (k == "preview" || k == "previews") element = "previews";
      else if (k == "lyrics" || k == "lyrics_search") element = "lyrics_search";
    }
    if (element.empty() || !Is32BitInteger(kv[1])) {
      error = "switches: '" + item + "' is not amg=, video=, previews= or lyrics= with an integer";
      return false;
    }
    for (auto& [name, v] : update.switches)
      if (name == element) v = kv[1];
  }
  return true;
}

}  // namespace

bool ApplyOption(Options& o, const std::string& name, const std::string& value, bool atRunTime, std::string& error) {
  long long n = 0;
  double seconds = 0;
  auto bad = [&](const std::string& what) {
    error = "--" + name + ": " + what;
    return false;
  };
  // Run-time options.
  if (name == "catalogue") {
    if (value != "default" && value != "edge") return bad("default or edge");
    o.catalogue = value;
  } else if (name == "update") {
    if (value == "none") o.update.mode = UpdateMode::None;
    else if (value == "info") o.update.mode = UpdateMode::Info;
    else if (value == "offer") o.update.mode = UpdateMode::Offer;
    else return bad("none, info or offer");
  } else if (name == "switches") {
    UpdateSettings copy = o.update;
    if (!ParseSwitches(value, copy, error)) return false;
    o.update = copy;
  } else if (name == "search-lengths") {
    auto parts = Split(value, ',');
    if (parts.size() != 2 || !Is32BitInteger(parts[0]) || !Is32BitInteger(parts[1])) return bad("MIN,MAX");
    o.update.minLength = parts[0];
    o.update.maxLength = parts[1];
  } else if (name == "gzip") {
    if (!ParseOnOff(value, o.gzip)) return bad("on or off");
  } else if (name == "strict-requests") {
    if (!ParseOnOff(value.empty() ? "on" : value, o.strictRequests)) return bad("on or off");
  } else if (name == "min-upload-seconds") {
    if (!ParseSeconds(value, seconds) || seconds > 60) return bad("seconds from 0 to 60");
    o.minUploadSeconds = seconds;
  } else if (name == "preview-seconds") {
    if (!ParseSeconds(value, seconds) || seconds < 0.1 || seconds > 60) return bad("seconds from 0.1 to 60");
    o.previewSeconds = seconds;
  } else if (name == "package-bytes") {
    if (!ParseBoundedInt(value, 0, 64LL << 20, n)) return bad("bytes from 0 to 67108864");
    o.packageBytes = n;
  } else if (name == "delay-ms") {
    if (!ParseBoundedInt(value, 0, 100000, n)) return bad("milliseconds from 0 to 100000");
    o.delayMs = n;
  } else if (name == "io-timeout") {
    if (!ParseSeconds(value, seconds) || seconds < 0.01 || seconds > 3600) return bad("seconds from 0.01 to 3600");
    o.ioTimeout = seconds;
  } else if (atRunTime) {
    error = "option '" + name + "' cannot be changed at run time";
    return false;
    // Start-up options.
  } else if (name == "listen") {
    std::string host = value;
    size_t colon = value.rfind(':');
    if (colon != std::string::npos) {
      host = value.substr(0, colon);
      if (!ParseBoundedInt(value.substr(colon + 1), 0, 65535, n)) return bad("port must be 0 to 65535");
      o.listenPort = static_cast<int>(n);
    }
    if (host != "127.0.0.1") return bad("only 127.0.0.1 is allowed; this server never listens beyond loopback");
    o.listenAddress = host;
  } else if (name == "port-file") {
    o.portFile = value;
  } else if (name == "public-base") {
    if (!StartsWith(value, "http://") || value.size() <= 7) return bad("an http:// base");
    o.publicBase = EndsWith(value, "/") ? value.substr(0, value.size() - 1) : value;
  } else if (name == "fault") {
    o.faults.push_back(value);
  } else if (name == "log") {
    o.logFile = value;
  } else if (name == "lifetime") {
    if (!ParseSeconds(value, seconds) || seconds <= 0 || seconds > 7 * 86400) return bad("seconds above 0");
    o.lifetime = seconds;
  } else if (name == "max-connections") {
    if (!ParseBoundedInt(value, 1, 1024, n)) return bad("1 to 1024");
    o.maxConnections = static_cast<int>(n);
  } else if (name == "self-check") {
    o.selfCheckOnly = true;
  } else {
    error = "unknown option --" + name;
    return false;
  }
  return true;
}

bool ParseCommandLine(int argc, const char* const* argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!StartsWith(arg, "--")) {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
    std::string name = arg.substr(2), value;
    size_t eq = name.find('=');
    bool hasValue = eq != std::string::npos;
    if (hasValue) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    const bool flag = name == "strict-requests" || name == "self-check";
    if (!hasValue && !flag) {
      if (i + 1 >= argc) {
        error = "--" + name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (name == "help") {
      error = UsageText();
      return false;
    }
    if (!ApplyOption(o, name, value, false, error)) return false;
  }
  return true;
}

std::string UsageText() {
  return "usage: quorel-protocol-server [options]\n"
         "  --listen 127.0.0.1[:PORT]   port 0 (default) picks a free one\n"
         "  --port-file FILE            write the port there once listening\n"
         "  --public-base URL           base of the URLs in replies (default http://127.0.0.1:PORT)\n"
         "  --catalogue default|edge    --update none|info|offer\n"
         "  --switches amg=1,video=1,previews=1,lyrics=1   --search-lengths MIN,MAX\n"
         "  --gzip on|off               --strict-requests[=on|off]\n"
         "  --min-upload-seconds S      --preview-seconds S   --package-bytes N   --delay-ms MS\n"
         "  --fault ROUTE:FAULT[:ARG[:COUNT]]   (repeatable; also /_ctl/inject), FAULT one of\n" +
         FaultNamesByFamily() +
         "  --log FILE                  request log as JSON lines\n"
         "  --lifetime S  --max-connections N  --io-timeout S\n"
         "  --self-check                check every served picture, preview and document, then exit\n";
}

}  // namespace qps
