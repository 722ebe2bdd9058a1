#pragma once
// Turning a request's query text into parameters: URL decoding, the case rule, typed lookups.
#include <map>
#include <string>

namespace quor::tessera::utility {

using ParameterMap = std::map<std::string, std::string>;

// '+' becomes a space; "%hh" becomes one byte (a non-hex digit counts as 0); a '%' with fewer
// than two characters after it is copied unchanged.
std::string urldecode(const std::string& text);

// A present key is read with a string stream: "true"/"false" words, a decimal floating-point
// number, a signed decimal integer. Unreadable values give false / 0.0 / 0, not the default.
bool LookupBoolValue(const ParameterMap& params, const std::string& key, bool defaultValue);
double LookupDoubleValue(const ParameterMap& params, const std::string& key, double defaultValue);
int LookupIntValue(const ParameterMap& params, const std::string& key, int defaultValue);

// The query of a request target ("/?a=b" gives "a=b"; the path is ignored).
std::string QueryOfTarget(const std::string& target);

// The parameter string of a GET: decoded and lower-cased, except that the value of the first
// "newname=" keeps its case.
std::string GetParameterString(const std::string& query);

// The parameter string of a POST: decoded and lower-cased.
std::string PostParameterString(const std::string& query);

// Splits "k=v&k2=v2" into a map. Pieces without exactly one '=' are ignored; later keys win.
ParameterMap ParseParameterString(const std::string& parameters);

// The value the parameter map gives `key` (lower case), as the client wrote it: looked up by
// the same rules in the decoded query before it was lower-cased. Empty when absent.
std::string ValueAsWritten(const std::string& decodedQuery, const std::string& key);

// Reads a signed / unsigned decimal number the way the dispatcher does: 0 when unreadable, the
// type's limit when out of range, a negative unsigned number wrapped (so it stays out of range).
int ReadSignedDecimal(const std::string& text);
unsigned ReadUnsignedDecimal(const std::string& text);

// True when a device-number parameter ("id", "newid") reads as a number the 6-bit device-number
// field holds (0..63). Read wide and signed, so no text can wrap or saturate into the field:
// "256", "-1" and "-4294967295" are all outside. Unreadable text reads 0, as every number does.
bool IsDeviceNumberInField(const std::string& text);

}  // namespace quor::tessera::utility
