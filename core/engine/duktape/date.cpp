// Date's string forms as the script language writes them, and Date.parse of those forms
// (the engine's own parser reads only ISO 8601). The engine calls both through its
// configuration (cmake/duktape.cmake) and core/engine/duktape/21-date.patch:
//   toString()            Wed Dec 09 2026 03:47:15 GMT+0100 (CET)
//   toDateString()        Wed Dec 09 2026
//   toTimeString()        03:47:15 GMT+0100 (CET)
//   toUTCString()         Wed, 09 Dec 2026 02:47:15 GMT     (also toGMTString)
//   toLocaleString() ...  the C library's %c, %x (with a four-digit year) and %X
// The zone name is the C library's, left out when it is not plain letters and digits.
#include "duktape.h"

#include <string>

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

namespace {

// The local date and time: on Windows %#c, which writes the whole year where %c has two.
#if defined(_WIN32)
const char kFullLocale[] = "%#c";
#else
const char kFullLocale[] = "%c";
#endif

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The time value of the parts, read as UTC.
double partsTime(duk_context* ctx, const duk_int_t* parts) {
    duk_time_components c;
    c.year = parts[DUK_DATE_IDX_YEAR];
    c.month = parts[DUK_DATE_IDX_MONTH] - 1; // the parts' month and day are one-based
    c.day = parts[DUK_DATE_IDX_DAY];
    c.hours = parts[DUK_DATE_IDX_HOUR];
    c.minutes = parts[DUK_DATE_IDX_MINUTE];
    c.seconds = parts[DUK_DATE_IDX_SECOND];
    c.milliseconds = parts[DUK_DATE_IDX_MILLISECOND];
    c.weekday = 0;
    return duk_components_to_time(ctx, &c);
}

// The C library's local time at the time value t (milliseconds); false out of its range.
bool localTm(double t, struct tm* out) {
    double s = floor(t / 1000);
    time_t tt = static_cast<time_t>(s);
    if (static_cast<double>(tt) != s) return false;
#if defined(_WIN32)
    return localtime_s(out, &tt) == 0;
#else
    return localtime_r(&tt, out) != nullptr;
#endif
}

// " (CET)": the zone's name at t, if the C library has a plain one.
void appendZoneName(char* out, size_t size, double t) {
    struct tm tm;
    char name[64];
    if (!localTm(t, &tm) || !strftime(name, sizeof name, "%Z", &tm) || !name[0]) return;
    for (const char* p = name; *p; p++)
        if (!isalnum(static_cast<unsigned char>(*p)) && *p != ' ') return;
    size_t n = strlen(out);
    snprintf(out + n, size - n, " (%s)", name);
}

// The C library's strftime of the local time t with format; false if it gives nothing.
// %x may write a two-digit year at its end (12/09/26): the whole year is written instead,
// unless the text starts with the year.
bool formatLocal(char* out, size_t size, double t, const char* format) {
    struct tm tm;
    if (!localTm(t, &tm)) return false;
    size_t n = strftime(out, size, format, &tm);
    if (!n) return false;
    if (strcmp(format, "%x") == 0 && n >= 6 && !isdigit(static_cast<unsigned char>(out[n - 3])) &&
        isdigit(static_cast<unsigned char>(out[n - 2])) &&
        isdigit(static_cast<unsigned char>(out[n - 1])) &&
        !(isdigit(static_cast<unsigned char>(out[0])) &&
          isdigit(static_cast<unsigned char>(out[1])) &&
          isdigit(static_cast<unsigned char>(out[2])) &&
          isdigit(static_cast<unsigned char>(out[3]))))
        snprintf(out + n - 2, size - (n - 2), "%d", tm.tm_year + 1900);
    return true;
}

// Year with at least four digits, as "%.4d" writes it: 0050, -0050, 12345.
void formatYear(char* out, size_t size, int year) {
    snprintf(out, size, "%.4d", year);
}

} // namespace

// DUK_USE_DATE_FORMAT_STRING: every string form but toISOString. parts are local time when
// flags has DUK_DATE_FLAG_LOCALTIME (tzoffset seconds east of UTC), else UTC.
extern "C" int capsuleDateFormat(void* context, duk_int_t* parts, duk_int_t tzoffset,
                                 duk_small_uint_t flags) {
    duk_context* ctx = static_cast<duk_context*>(context);
    bool date = flags & DUK_DATE_FLAG_TOSTRING_DATE, time = flags & DUK_DATE_FLAG_TOSTRING_TIME;
    double t = partsTime(ctx, parts) - tzoffset * 1000.0; // the time value itself
    char out[160], year[16];
    if (flags & DUK_DATE_FLAG_TOSTRING_LOCALE) {
        if (!formatLocal(out, sizeof out, t, date && time ? kFullLocale : date ? "%x" : "%X"))
            return 0;
        duk_push_string(ctx, out);
        return 1;
    }
    formatYear(year, sizeof year, parts[DUK_DATE_IDX_YEAR]);
    const char* day = kDays[parts[DUK_DATE_IDX_WEEKDAY] % 7];
    const char* month = kMonths[(parts[DUK_DATE_IDX_MONTH] - 1) % 12];
    if (!(flags & DUK_DATE_FLAG_LOCALTIME)) {
        snprintf(out, sizeof out, "%s, %.2d %s %s %.2d:%.2d:%.2d GMT", day, parts[DUK_DATE_IDX_DAY],
                 month, year, parts[DUK_DATE_IDX_HOUR], parts[DUK_DATE_IDX_MINUTE],
                 parts[DUK_DATE_IDX_SECOND]);
        duk_push_string(ctx, out);
        return 1;
    }
    out[0] = 0;
    if (date)
        snprintf(out, sizeof out, "%s %s %.2d %s%s", day, month, parts[DUK_DATE_IDX_DAY], year,
                 time ? " " : "");
    if (time) {
        int minutes = tzoffset / 60;
        int hhmm = (minutes / 60) * 100 + minutes % 60;
        size_t n = strlen(out);
        snprintf(out + n, sizeof out - n, "%.2d:%.2d:%.2d GMT%+.4d", parts[DUK_DATE_IDX_HOUR],
                 parts[DUK_DATE_IDX_MINUTE], parts[DUK_DATE_IDX_SECOND], hhmm);
        appendZoneName(out, sizeof out, t);
    }
    duk_push_string(ctx, out);
    return 1;
}

namespace {

// The parts of a date text in the forms above (and the usual variants: "Dec 9, 2026",
// "12/09/2026 3:47 PM", "9 December 2026 UTC", "... GMT+0100", "... PST").
struct DateText {
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1, millis = 0;
    bool negativeYear = false;
    bool zoned = false; // a zone name or offset was given
    int offset = 0;     // minutes east of UTC
};

bool prefixOf(const char* word, size_t n, const char* full) {
    return n >= 3 && n <= strlen(full) && strncasecmp(word, full, n) == 0;
}

// A word: a month, a day name (ignored), AM/PM, or a zone.
bool readWord(DateText& d, const char* w, size_t n) {
    static const char* const months[] = {"january",   "february", "march",    "april",
                                         "may",       "june",     "july",     "august",
                                         "september", "october",  "november", "december"};
    static const char* const days[] = {"sunday",   "monday", "tuesday", "wednesday",
                                       "thursday", "friday", "saturday"};
    static const struct {
        const char* name;
        int offset;
    } zones[] = {{"gmt", 0},    {"ut", 0},     {"utc", 0},    {"z", 0},
                 {"est", -300}, {"edt", -240}, {"cst", -360}, {"cdt", -300},
                 {"mst", -420}, {"mdt", -360}, {"pst", -480}, {"pdt", -420}};
    if (n == 2 && (strncasecmp(w, "am", 2) == 0 || strncasecmp(w, "pm", 2) == 0)) {
        if (d.hour < 0 || d.hour > 12) return false;
        d.hour = d.hour % 12 + (tolower(static_cast<unsigned char>(w[0])) == 'p' ? 12 : 0);
        return true;
    }
    for (int i = 0; i < 12; i++) {
        if (!prefixOf(w, n, months[i])) continue;
        if (d.month >= 0) return false;
        d.month = i;
        return true;
    }
    for (const char* day : days)
        if (prefixOf(w, n, day)) return true;
    for (const auto& z : zones) {
        if (strlen(z.name) != n || strncasecmp(w, z.name, n) != 0) continue;
        d.zoned = true;
        d.offset = z.offset;
        return true;
    }
    return false;
}

// Reads a number at *p (advancing it); false if there is none.
bool readNumber(const char** p, int* value, int* digits) {
    const char* s = *p;
    long v = 0;
    int n = 0;
    while (isdigit(static_cast<unsigned char>(*s)) && n < 9) {
        v = v * 10 + (*s++ - '0');
        n++;
    }
    if (!n || isdigit(static_cast<unsigned char>(*s))) return false;
    *p = s;
    *value = static_cast<int>(v);
    if (digits) *digits = n;
    return true;
}

// h:mm[:ss[.mmm]] after its hour, which is read already.
bool readTime(DateText& d, int hour, const char** p) {
    if (d.hour >= 0) return false;
    d.hour = hour;
    (*p)++; // ':'
    if (!readNumber(p, &d.minute, nullptr)) return false;
    d.second = 0;
    if (**p == ':') {
        (*p)++;
        if (!readNumber(p, &d.second, nullptr)) return false;
        if (**p == '.') {
            (*p)++;
            int digits;
            if (!readNumber(p, &d.millis, &digits)) return false;
            while (digits > 3) {
                d.millis /= 10;
                digits--;
            }
            while (digits++ < 3)
                d.millis *= 10;
        }
    }
    return true;
}

// m/d/y, or y/m/d when the first number has four digits; the first is read already.
bool readSlashed(DateText& d, int first, int digits, const char** p) {
    int second, third, thirdDigits;
    (*p)++; // '/'
    if (!readNumber(p, &second, nullptr) || **p != '/') return false;
    (*p)++;
    if (!readNumber(p, &third, &thirdDigits) || d.year >= 0 || d.month >= 0 || d.day >= 0)
        return false;
    if (digits >= 3) {
        d.year = first;
        d.month = second - 1;
        d.day = third;
    } else {
        d.month = first - 1;
        d.day = second;
        d.year = thirdDigits <= 2 ? third + (third < 50 ? 2000 : 1900) : third;
    }
    return true;
}

bool readDateText(DateText& d, const char* p) {
    int sign = 0;
    while (*p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (isspace(c) || c == ',') {
            p++;
        } else if (c == '(') { // a comment, such as the zone name after the offset
            int depth = 0;
            do {
                if (*p == '(') depth++;
                if (*p == ')') depth--;
                p++;
            } while (*p && depth > 0);
        } else if (c == '+' || c == '-') {
            if (sign) return false;
            sign = c == '+' ? 1 : -1;
            p++;
        } else if (isalpha(c)) {
            const char* w = p;
            while (isalpha(static_cast<unsigned char>(*p)))
                p++;
            if (sign || !readWord(d, w, static_cast<size_t>(p - w))) return false;
        } else if (isdigit(c)) {
            int n, digits;
            if (!readNumber(&p, &n, &digits)) return false;
            if (sign && (d.zoned || d.hour >= 0)) { // an offset: +1, +0100
                d.offset = sign * (digits <= 2 ? n * 60 : (n / 100) * 60 + n % 100);
                d.zoned = true;
            } else if (sign < 0 || (sign > 0 && d.year < 0)) { // a year before 1 or a signed one
                if (d.year >= 0) return false;
                d.year = n;
                d.negativeYear = sign < 0;
            } else if (*p == ':') {
                if (!readTime(d, n, &p)) return false;
            } else if (*p == '/') {
                if (!readSlashed(d, n, digits, &p)) return false;
            } else if (d.day < 0 && digits <= 2) {
                d.day = n;
            } else if (d.year < 0) {
                d.year = digits <= 2 ? n + (n < 50 ? 2000 : 1900) : n;
            } else {
                return false;
            }
            sign = 0;
        } else {
            return false;
        }
    }
    return !sign && d.year >= 0 && d.month >= 0 && d.month < 12 && d.day >= 1 && d.day <= 31 &&
           d.hour <= 24 && d.minute < 60 && d.second < 60;
}

} // namespace

// DUK_USE_DATE_PARSE_STRING: the texts that the ISO 8601 parser does not take. Pushes the
// time value and returns 1, or pushes nothing and returns 0.
extern "C" int capsuleDateParse(void* context, const char* text) {
    duk_context* ctx = static_cast<duk_context*>(context);
    DateText d;
    if (!readDateText(d, text)) return 0;
    double year = d.negativeYear ? -d.year : d.year;
    if (d.hour < 0) d.hour = d.minute = d.second = 0;
    if (d.zoned) {
        duk_time_components c;
        c.year = year;
        c.month = d.month;
        c.day = d.day;
        c.hours = d.hour;
        c.minutes = d.minute;
        c.seconds = d.second;
        c.milliseconds = d.millis;
        c.weekday = 0;
        duk_push_number(ctx, duk_components_to_time(ctx, &c) - d.offset * 60000.0);
        return 1;
    }
    // Local time: a Date set field by field (new Date(y, ...) would move years 0 to 99).
    duk_get_global_literal(ctx, "Date");
    duk_push_int(ctx, 0);
    duk_new(ctx, 1);
    duk_push_literal(ctx, "setFullYear");
    duk_push_number(ctx, year);
    duk_push_int(ctx, d.month);
    duk_push_int(ctx, d.day);
    duk_call_prop(ctx, -5, 3);
    duk_pop(ctx);
    duk_push_literal(ctx, "setHours");
    duk_push_int(ctx, d.hour);
    duk_push_int(ctx, d.minute);
    duk_push_int(ctx, d.second);
    duk_push_int(ctx, d.millis);
    duk_call_prop(ctx, -6, 4);
    duk_remove(ctx, -2);
    return 1;
}

namespace engine {

namespace {

// Date.prototype.toLocaleFormat(format): the local time through the C library's strftime.
duk_ret_t toLocaleFormat(duk_context* ctx) {
    duk_get_global_literal(ctx, "Date");
    duk_get_prop_literal(ctx, -1, "prototype");
    duk_get_prop_literal(ctx, -1, "getTime");
    duk_push_this(ctx);
    duk_call_method(ctx, 0); // a TypeError for anything but a Date
    double t = duk_get_number(ctx, -1);
    const char* format = duk_to_string(ctx, 0);
    if (isnan(t)) {
        duk_push_literal(ctx, "Invalid Date");
        return 1;
    }
    std::string out(256 + 4 * strlen(format), '\0');
    if (!*format || !formatLocal(&out[0], out.size(), t, format)) out[0] = 0;
    duk_push_string(ctx, out.c_str());
    return 1;
}

} // namespace

extern const duk_function_list_entry kDateNatives[] = {
    {"toLocaleFormat", toLocaleFormat, 1},
    {nullptr, nullptr, 0},
};

} // namespace engine
