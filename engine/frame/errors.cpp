// The error reporter. Messages are built here; showing them goes through the
// dialog service once the desktop backend is in place (until then they are
// written to standard error).
#include "engine/frame/errors.h"

#include <cstdio>
#include <cstring>

#include "engine/frame/engine_state.h"

ErrorReportLog g_error_report_log;

void reset_error_report_log() { g_error_report_log = ErrorReportLog{}; }

std::string format_error_args(const char* fmt, const ErrorArg* args, int count) {
  std::string out;
  if (!fmt) return out;
  int next = 0;
  for (const char* p = fmt; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string spec = "%";
    while (*p && std::strchr("-+ #0", *p)) spec += *p++;
    while (*p >= '0' && *p <= '9') spec += *p++;
    if (*p == '.') {
      spec += *p++;
      while (*p >= '0' && *p <= '9') spec += *p++;
    }
    while (*p && std::strchr("hlLqjzt", *p)) ++p;
    char conv = *p;
    if (!conv || !std::strchr("diuxXcsfgeEGp", conv) || next >= count) {
      // Nothing to read for this conversion: show it as written.
      out.append(start, static_cast<std::size_t>((conv ? p + 1 : p) - start));
      if (conv) ++p;
      continue;
    }
    ++p;
    const ErrorArg& a = args[next++];
    char buf[512];
    switch (conv) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'c': {
        long long v = a.kind == ErrorArg::kDouble ? static_cast<long long>(a.d) : a.i;
        if (a.kind == ErrorArg::kText) { out += a.s ? a.s : "(null)"; continue; }
        std::string s2 = spec + "ll" + conv;
        if (conv == 'c') s2 = spec + 'c';
        if (conv == 'c') std::snprintf(buf, sizeof buf, s2.c_str(), static_cast<int>(v));
        else std::snprintf(buf, sizeof buf, s2.c_str(), v);
        out += buf;
        break;
      }
      case 's':
        if (a.kind == ErrorArg::kText) {
          std::snprintf(buf, sizeof buf, "%s", "");
          std::string s2 = spec + 's';
          const char* text = a.s ? a.s : "(null)";
          // Width and precision on long texts: format through a sized buffer.
          int n = std::snprintf(nullptr, 0, s2.c_str(), text);
          std::string tmp(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
          std::snprintf(tmp.data(), tmp.size(), s2.c_str(), text);
          tmp.resize(static_cast<std::size_t>(n > 0 ? n : 0));
          out += tmp;
        } else if (a.kind == ErrorArg::kDouble) {
          std::snprintf(buf, sizeof buf, "%g", a.d);
          out += buf;
        } else {
          std::snprintf(buf, sizeof buf, "%lld", a.i);
          out += buf;
        }
        break;
      case 'p':
        std::snprintf(buf, sizeof buf, "%llx", a.i);
        out += buf;
        break;
      default: {
        double v = a.kind == ErrorArg::kDouble ? a.d : static_cast<double>(a.i);
        std::string s2 = spec + conv;
        std::snprintf(buf, sizeof buf, s2.c_str(), v);
        out += buf;
        break;
      }
    }
  }
  return out;
}

void report_error_v(std::uint32_t number, int fatal, bool with_position, const ErrorArg* args, int count) {
  char text[64];
  std::snprintf(text, sizeof text, "error %u", number);
  if (fatal) g_quit_requested = 1;
  g_error_report_log.report_count++;
  g_error_report_log.last_number = number;
  g_error_report_log.last_fatal = fatal;
  g_error_report_log.last_message = text;
  if (!g_errors_quiet) std::fprintf(stderr, "k_lumbrane: %s%s\n", text, fatal ? " (fatal)" : "");
}

void show_error_box_v(const char* caption, const char* fmt, const ErrorArg* args, int count) {
  g_error_report_log.box_count++;
  g_error_report_log.last_box_caption = caption ? caption : "";
  g_error_report_log.last_box_text = format_error_args(fmt, args, count);
  if (!g_errors_quiet) std::fprintf(stderr, "k_lumbrane: %s\n", g_error_report_log.last_box_text.c_str());
}
