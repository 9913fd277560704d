// The settings page's pieces that decide: requests, form fields, escaping,
// the line-preserving rewrite and the token's HMAC; its system side on real
// files and processes; and whole requests over a scripted router.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/durable_file.h"
#include "web/editor.h"
#include "web/fields.h"
#include "web/form.h"
#include "web/html.h"
#include "web/page.h"
#include "web/rewrite.h"
#include "web/serve.h"
#include "web/sha256.h"
#include "web/system.h"

namespace {

std::string hex_of(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

TEST(WebDigest, StandardVectors) {
  struct row {
    std::string key;  // empty: plain SHA-256 of the message
    std::string message;
    const char* digest;
  };
  const std::string long_key(131, '\xaa');
  const row rows[] = {
      {"", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // RFC 4231 test cases 1, 2, 4, 6 and 7.
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {hex_of("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {long_key, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {long_key,
       "This is a test using a larger than block-size key and a larger than block-size data. "
       "The key needs to be hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const row& r : rows) {
    uint8_t digest[SHA256_SIZE];
    if (r.key.empty()) {
      sha256(r.message.data(), r.message.size(), digest);
    } else {
      hmac_sha256(r.key.data(), r.key.size(), r.message.data(), r.message.size(), digest);
    }
    char hex[SHA256_HEX_SIZE];
    digest_hex(digest, hex);
    EXPECT_STREQ(hex, r.digest) << r.message.substr(0, 40);
  }
}

TEST(WebRequest, Verdicts) {
  struct row {
    cgi_request request;
    bool require_user;
    request_verdict verdict;
  };
  const char* form = "application/x-www-form-urlencoded";
  const row rows[] = {
      {{"GET", nullptr, nullptr, "admin", "r", nullptr, nullptr}, true, request_verdict::show},
      {{"GET", nullptr, nullptr, "", "r", nullptr, nullptr}, true, request_verdict::no_user},
      {{"GET", nullptr, nullptr, nullptr, "r", nullptr, nullptr}, true, request_verdict::no_user},
      {{"GET", nullptr, nullptr, nullptr, "r", nullptr, nullptr}, false, request_verdict::show},
      {{"PUT", form, "3", "admin", "r", nullptr, nullptr}, true, request_verdict::bad_method},
      {{"HEAD", nullptr, nullptr, "admin", "r", nullptr, nullptr},
       true,
       request_verdict::bad_method},
      {{"POST", form, "3", "admin", "r", nullptr, nullptr}, true, request_verdict::save},
      {{"POST", "application/x-www-form-urlencoded; charset=UTF-8", "3", "admin", "r", nullptr,
        nullptr},
       true,
       request_verdict::save},
      {{"POST", "multipart/form-data; boundary=x", "3", "admin", "r", nullptr, nullptr},
       true,
       request_verdict::bad_type},
      {{"POST", "application/x-www-form-urlencodedx", "3", "admin", "r", nullptr, nullptr},
       true,
       request_verdict::bad_type},
      {{"POST", nullptr, "3", "admin", "r", nullptr, nullptr}, true, request_verdict::bad_type},
      {{"POST", form, "16384", "admin", "r", nullptr, nullptr}, true, request_verdict::save},
      {{"POST", form, "16385", "admin", "r", nullptr, nullptr}, true, request_verdict::too_large},
      {{"POST", form, "99999999999999999999", "admin", "r", nullptr, nullptr},
       true,
       request_verdict::too_large},
      {{"POST", form, "-1", "admin", "r", nullptr, nullptr}, true, request_verdict::bad_length},
      {{"POST", form, "", "admin", "r", nullptr, nullptr}, true, request_verdict::bad_length},
      {{"POST", form, "3", "admin", "r:8080", "http://r:8080", "http://r:8080/cgi-bin/x"},
       true,
       request_verdict::save},
      {{"POST", form, "3", "admin", "r", "https://R", nullptr}, true, request_verdict::save},
      {{"POST", form, "3", "admin", "r", "http://evil", nullptr},
       true,
       request_verdict::cross_site},
      {{"POST", form, "3", "admin", "r", "http://r.evil", nullptr},
       true,
       request_verdict::cross_site},
      {{"POST", form, "3", "admin", "r", "null", nullptr}, true, request_verdict::save},
      {{"POST", form, "3", "admin", "r", "null", "http://evil/"},
       true,
       request_verdict::cross_site},
      {{"POST", form, "3", "admin", "r", nullptr, "http://evil/r"},
       true,
       request_verdict::cross_site},
      {{"POST", form, "3", "admin", nullptr, "http://r", nullptr},
       true,
       request_verdict::cross_site},
  };
  for (const row& r : rows) {
    size_t length = 0;
    EXPECT_EQ(judge_request(r.request, r.require_user, &length), r.verdict)
        << r.request.method << " " << (r.request.content_length ? r.request.content_length : "")
        << " " << (r.request.origin ? r.request.origin : "");
  }
}

TEST(WebForm, FieldsAndErrors) {
  const char* const names[] = {"A", "B", "hash"};
  const bool numeric[] = {true, true, false};
  const form_layout layout{names, numeric, 3};
  struct row {
    std::string body;
    form_error error;
    const char* a;
    const char* hash;
  };
  const row rows[] = {
      {"A=1&B=2&hash=x", form_error::none, "1", "x"},
      {"hash=a+b%2F%3c&B=&A=007&", form_error::none, "007", "a b/<"},
      {"A=1&B=2", form_error::missing_field, "", ""},
      {"A=1&B=2&hash=x&A=1", form_error::repeated_field, "", ""},
      {"A=1&B=2&hash=x&C=1", form_error::unknown_field, "", ""},
      {"A=1&B=2&hash=%zz", form_error::bad_encoding, "", ""},
      {"A=1&B=2&hash=%4", form_error::bad_encoding, "", ""},
      {"A=1&B=2&hash=%00", form_error::bad_encoding, "", ""},
      {"A=1&B=2&hash", form_error::bad_encoding, "", ""},
      {"A=1&&B=2&hash=x", form_error::bad_encoding, "", ""},
      {"A=1x&B=2&hash=x", form_error::not_a_number, "", ""},
      {"A=-1&B=2&hash=x", form_error::not_a_number, "", ""},
      {"A=+1&B=2&hash=x", form_error::not_a_number, "", ""},
      {"A=%31&B=2&hash=x", form_error::none, "1", "x"},
      {"A=123456789012345678901&B=2&hash=x", form_error::not_a_number, "", ""},
      {"A=1&B=2&hash=" + std::string(FORM_VALUE_SIZE, 'h'), form_error::too_long, "", ""},
      {"%41=1&B=2&hash=x", form_error::none, "1", "x"},
  };
  for (const row& r : rows) {
    parsed_form form;
    EXPECT_EQ(parse_form(r.body.data(), r.body.size(), layout, &form), r.error) << r.body;
    if (r.error != form_error::none) continue;
    EXPECT_STREQ(form.values[0], r.a) << r.body;
    EXPECT_STREQ(form.values[2], r.hash) << r.body;
  }
}

TEST(WebHtml, TheStylesHashIsTheOneThePolicyNames) {
  char computed[64];
  page_style_hash_source(computed);
  EXPECT_STREQ(computed, PAGE_STYLE_SOURCE) << "set PAGE_STYLE_SOURCE in web/page.h";
}

TEST(WebHtml, EscapesEveryMarkupCharacter) {
  char buffer[256] = {};
  FILE* out = fmemopen(buffer, sizeof buffer, "w");
  ASSERT_NE(out, nullptr);
  put_text(out, "<script>\"a\" & 'b'</script>\xc3\xa4");
  put_text(out, "");
  put_text(out, "&&x>");
  fclose(out);
  EXPECT_STREQ(
      buffer,
      "&lt;script&gt;&quot;a&quot; &amp; &#39;b&#39;&lt;/script&gt;\xc3\xa4&amp;&amp;x&gt;");
}

TEST(WebRewrite, KeepsEveryOtherByte) {
  struct row {
    std::string before;
    value_change changes[2];
    int count;
    std::string after;
  };
  const row rows[] = {
      {"A=1\nB=2\n", {{2, "B", "5"}}, 1, "A=1\nB=5\n"},
      {"A=1\r\n# note\r\nB=\"2\" # two\r\n", {{3, "B", "5"}}, 1, "A=1\r\n# note\r\nB=5\r\n"},
      {"A=1\r\nB=2", {{2, "B", "5"}, {0, "C", "7"}}, 2, "A=1\r\nB=5\r\nC=7\r\n"},
      {"A=1", {{0, "C", "7"}}, 1, "A=1\nC=7\n"},
      {"", {{0, "C", "7"}}, 1, "C=7\n"},
      {"\n\nx=<b>\nmod_dormix_a=1\n", {{4, "mod_dormix_a", "2"}}, 1, "\n\nx=<b>\nmod_dormix_a=2\n"},
      {"A=1\nA=3\n", {{1, "A", "2"}}, 1, "A=2\nA=3\n"},
  };
  for (const row& r : rows) {
    char out[256];
    const size_t size =
        rewrite_settings(r.before.data(), r.before.size(), r.changes, r.count, out, sizeof out);
    EXPECT_EQ(std::string(out, size), r.after) << r.before;
  }
  char small[4];
  const value_change change{1, "A", "12345"};
  EXPECT_EQ(rewrite_settings("A=1\n", 4, &change, 1, small, sizeof small), 0U);
}

TEST(WebEditor, ChangesAndTheCheckersVerdict) {
  const std::string file = "MOD_DORMIX_SLEEP_TIME0_HOUR=\"22\" # evening\r\nOTHER=1\r\n";
  const check_request request{"settings", 0, {presence_source::option, {true, false}}, {}, nullptr};
  static check_report report;
  ASSERT_TRUE(report_on_text(file.data(), file.size(), request, &report));
  static editor_fields fields;
  editor_fields_fill(report.keys, &fields);
  const int hour = known_key_index(report.keys, "MOD_DORMIX_SLEEP_TIME0_HOUR");
  char shown[FORM_VALUE_SIZE];
  field_value_of(report, file.data(), file.size(), hour, shown);
  EXPECT_STREQ(shown, "22");

  parsed_form form{};
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report, file.data(), file.size(), i, form.values[i]);
  }
  value_change changes[KNOWN_KEY_COUNT];
  EXPECT_EQ(changes_from_form(report, file.data(), file.size(), form, changes), 0);
  snprintf(form.values[hour], FORM_VALUE_SIZE, "25");
  const int minute = known_key_index(report.keys, "MOD_DORMIX_SLEEP_TIME0_MINUTE");
  snprintf(form.values[minute], FORM_VALUE_SIZE, "5");
  ASSERT_EQ(changes_from_form(report, file.data(), file.size(), form, changes), 2);
  EXPECT_EQ(changes[0].line, 1);
  EXPECT_EQ(changes[1].line, 0);
  EXPECT_TRUE(blocks_save("time-range"));
  EXPECT_TRUE(blocks_save("too-large"));
  EXPECT_FALSE(blocks_save("no-wake-rule"));
  EXPECT_FALSE(blocks_save("unknown-key"));
}

// A new key without help would not be explained, and a help or control for a
// key the daemon does not know would make every save fail as an unknown field.
TEST(WebFields, EveryKnownKeyHasHelpAndOneControl) {
  known_key keys[KNOWN_KEY_COUNT];
  known_keys_fill(keys);
  for (const known_key& key : keys) {
    EXPECT_NE(help_for_key(key.name), nullptr) << key.name << " has no help";
  }
  EXPECT_EQ(help_count(), KNOWN_KEY_COUNT);
  for (int i = 0; i < help_count(); ++i) {
    EXPECT_GE(known_key_index(keys, help_at(i).key), 0) << help_at(i).key << " is not a key";
  }
  int set_by[KNOWN_KEY_COUNT] = {};
  for (int c = 0; c < SETTING_CONTROL_COUNT; ++c) {
    const setting_control& control = control_at(c);
    const char* const control_keys[] = {control.key, control.minute_key};
    for (const char* key : control_keys) {
      if (key[0] == '\0') continue;
      const int index = known_key_index(keys, key);
      ASSERT_GE(index, 0) << control.name << " sets " << key << ", not a key";
      ++set_by[index];
    }
  }
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    EXPECT_EQ(set_by[i], 1) << keys[i].name << " is set by " << set_by[i] << " controls";
  }
  int in_rules = 0;
  for (int r = 0; r < SETTING_RULE_COUNT; ++r) {
    EXPECT_EQ(rule_at(r).first_control, in_rules) << rule_at(r).title;
    in_rules += rule_at(r).control_count;
  }
  EXPECT_EQ(in_rules, SETTING_CONTROL_COUNT);
}

// A control as the person leaves it: ticked or not, or a new value; null
// sends nothing, as an unticked checkbox does.
struct control_edit {
  const char* name;
  const char* value;
};

// The body a browser posts for the page of a file: the hidden values, the
// hash and the token, and every control as drawn, with edits on top.
std::string posted_body(const check_report& report, const key_values& values,
                        const std::vector<control_edit>& edits) {
  std::string body;
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    body += std::string(report.keys[i].name) + "=" + values[i] + "&";
  }
  body += "hash=h&token=t";
  for (int c = 0; c < SETTING_CONTROL_COUNT; ++c) {
    const setting_control& control = control_at(c);
    char shown[FORM_VALUE_SIZE];
    control_value(control, report.keys, values, shown);
    const char* value = shown;
    for (const control_edit& edit : edits) {
      if (strcmp(edit.name, control.name) == 0) value = edit.value;
    }
    const bool sent = control.kind == control_kind::toggle ? value != nullptr && value[0] != '\0'
                                                           : value != nullptr;
    if (sent) body += std::string("&") + control.name + "=" + value;
  }
  return body;
}

TEST(WebFields, OnlyTheControlsChangedWriteTheirKeys) {
  // Values no control can show: a switch of 7, a clock time of 25:90, a hold
  // that counts as negative, a level of 3; and keys the file does not set.
  const std::string odd =
      "MOD_DORMIX_SLEEP_TIME0_ENABLED=7\nMOD_DORMIX_SLEEP_TIME0_HOUR=25\n"
      "MOD_DORMIX_SLEEP_TIME0_MINUTE=90\nMOD_DORMIX_SLEEP_BIN0_ENABLED=1\n"
      "MOD_DORMIX_SLEEP_BIN0_STATE=3\nMOD_DORMIX_SLEEP_BIN0_SECOND=3000000000\n"
      "MOD_DORMIX_WAKEUP_TIME0_ENABLED=1\nMOD_DORMIX_WAKEUP_TIME0_MINUTE=70\n"
      "MOD_DORMIX_WAKEUP_DELAY0_SECOND=4294967295\n";
  const std::string plain =
      "MOD_DORMIX_SLEEP_TIME0_ENABLED=\"1\" # on\nMOD_DORMIX_SLEEP_TIME0_HOUR=23\n"
      "MOD_DORMIX_SLEEP_DELAY0_SECOND=007\n";
  struct row {
    const std::string* file;
    std::vector<control_edit> edits;
    form_error error;
    const char* changes;  // KEY=value@line, line 0 appended
  };
  const row rows[] = {
      {&odd, {}, form_error::none, ""},
      {&plain, {}, form_error::none, ""},
      {&odd, {{"sleep_time", ""}, {"sleep_bin0_hold", ""}}, form_error::none, ""},
      {&odd, {{"sleep_time_on", nullptr}}, form_error::none, "MOD_DORMIX_SLEEP_TIME0_ENABLED=0@1"},
      {&odd, {{"enabled", "1"}}, form_error::none, "MOD_DORMIX_ENABLED=1@0"},
      {&odd,
       {{"sleep_time", "06:05"}},
       form_error::none,
       "MOD_DORMIX_SLEEP_TIME0_HOUR=6@2 MOD_DORMIX_SLEEP_TIME0_MINUTE=5@3"},
      {&odd, {{"wake_time", "00:10"}}, form_error::none, "MOD_DORMIX_WAKEUP_TIME0_MINUTE=10@8"},
      {&odd, {{"sleep_bin0_level", "1"}}, form_error::none, "MOD_DORMIX_SLEEP_BIN0_STATE=1@5"},
      {&odd, {{"sleep_bin0_hold", "10"}}, form_error::none, "MOD_DORMIX_SLEEP_BIN0_SECOND=10@6"},
      {&plain, {{"sleep_time", "23:00"}}, form_error::none, ""},
      {&plain, {{"sleep_time", "23:30"}}, form_error::none, "MOD_DORMIX_SLEEP_TIME0_MINUTE=30@0"},
      {&plain, {{"sleep_delay", "0007"}}, form_error::none, ""},
      {&plain, {{"sleep_delay", "000"}}, form_error::none, "MOD_DORMIX_SLEEP_DELAY0_SECOND=0@3"},
      {&plain, {{"sleep_delay", nullptr}}, form_error::none, ""},
      {&plain, {{"sleep_time_on", ""}}, form_error::none, "MOD_DORMIX_SLEEP_TIME0_ENABLED=0@1"},
      {&plain, {{"sleep_time_on", "on"}}, form_error::not_a_number, ""},
      {&plain, {{"sleep_time", "24:00"}}, form_error::not_a_number, ""},
      {&plain, {{"sleep_time", "7:30"}}, form_error::not_a_number, ""},
      {&plain, {{"sleep_time", "07:30:00"}}, form_error::not_a_number, ""},
      {&plain, {{"sleep_delay", "1e3"}}, form_error::not_a_number, ""},
      {&plain, {{"sleep_bin0_level", "-1"}}, form_error::not_a_number, ""},
  };
  const check_request request{"settings", 0, {presence_source::option, {true, true}}, {}, nullptr};
  for (const row& r : rows) {
    static check_report report;
    ASSERT_TRUE(report_on_text(r.file->data(), r.file->size(), request, &report));
    key_values values;
    for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
      field_value_of(report, r.file->data(), r.file->size(), i, values[i]);
    }
    const std::string body = posted_body(report, values, r.edits);
    static parsed_form form;
    ASSERT_EQ(parse_settings_form(body.data(), body.size(), report.keys, &form), r.error) << body;
    if (r.error != form_error::none) continue;
    EXPECT_STREQ(form.values[SETTINGS_FORM_HASH], "h");
    value_change changes[KNOWN_KEY_COUNT];
    const int count = changes_from_form(report, r.file->data(), r.file->size(), form, changes);
    std::string made;
    for (int i = 0; i < count; ++i) {
      made += std::string(i == 0 ? "" : " ") + changes[i].key + "=" + changes[i].value + "@" +
              std::to_string(changes[i].line);
    }
    EXPECT_EQ(made, r.changes) << body;
  }
}

TEST(WebToken, BindsUserFileAndTimeAndExpires) {
  const unsigned char secret[SECRET_SIZE] = {7, 1, 2};
  const std::string long_user(330, 'a');
  const char* hash = "0f0f";
  const time_t made = 1800000000;
  char made_token[FORM_TOKEN_SIZE];
  form_token(secret, SECRET_SIZE, "admin", hash, made, made_token);
  const std::string token = made_token;
  char long_token[FORM_TOKEN_SIZE];
  form_token(secret, SECRET_SIZE, (long_user + "x").c_str(), hash, made, long_token);
  struct row {
    std::string user;
    const char* hash;
    std::string token;
    time_t now;
    token_verdict verdict;
  };
  const row rows[] = {
      {"admin", hash, token, made, token_verdict::valid},
      {"admin", hash, token, made + FORM_TOKEN_LIFETIME_SECONDS, token_verdict::valid},
      {"admin", hash, token, made + FORM_TOKEN_LIFETIME_SECONDS + 1, token_verdict::expired},
      {"admin", hash, token, made - FORM_TOKEN_CLOCK_SLACK_SECONDS, token_verdict::valid},
      {"admin", hash, token, made - FORM_TOKEN_CLOCK_SLACK_SECONDS - 1, token_verdict::expired},
      {"root", hash, token, made, token_verdict::forged},
      {"admin", "0f0e", token, made, token_verdict::forged},
      // The moment is part of the MAC: a later one cannot be claimed.
      {"admin", hash, std::to_string(made + 10) + token.substr(10), made, token_verdict::forged},
      // A user past any buffer still counts to its last byte.
      {long_user + "x", hash, long_token, made, token_verdict::valid},
      {long_user + "y", hash, long_token, made, token_verdict::forged},
      {"admin", hash, "", made, token_verdict::forged},
      {"admin", hash, " 1800000000." + token.substr(11), made, token_verdict::forged},
      {"admin", hash, token.substr(0, 11), made, token_verdict::forged},
  };
  for (const row& r : rows) {
    EXPECT_EQ(judge_token(secret, SECRET_SIZE, r.user.c_str(), r.hash, r.token.c_str(), r.now),
              r.verdict)
        << r.user.substr(0, 12) << " " << r.token << " at " << r.now;
  }
  // Fields are length-prefixed: where one ends and the next begins counts.
  const hmac_field split_one[] = {{"a\nb", 3}, {"c", 1}};
  const hmac_field split_two[] = {{"a", 1}, {"b\nc", 3}};
  uint8_t one[SHA256_SIZE];
  uint8_t two[SHA256_SIZE];
  hmac_sha256_fields(secret, SECRET_SIZE, split_one, 2, one);
  hmac_sha256_fields(secret, SECRET_SIZE, split_two, 2, two);
  EXPECT_NE(memcmp(one, two, SHA256_SIZE), 0);
}

TEST(WebEditor, RefusesLinesItCannotRewriteWhole) {
  const std::string long_line =
      "MOD_DORMIX_ENABLED=1" + std::string(16363, ' ') + "MOD_DORMIX_SLEEP_TIME0_HOUR=5";
  struct row {
    std::string file;
    value_change change;
    int unsafe_line;  // 0: the change may be written
  };
  const row rows[] = {
      {"A=1\n" + long_line + "\nB=2\n", {2, "MOD_DORMIX_SLEEP_TIME0_HOUR", "7"}, 2},
      {"A=1\n" + long_line + "\nB=2\n", {3, "B", "7"}, 0},
      {"A=1\n" + long_line, {2, "MOD_DORMIX_ENABLED", "0"}, 2},
      {"A=1\r\nB=2\r\n", {2, "B", "7"}, 0},
      {"A=1\rB=2\nC=3\n", {1, "A", "7"}, 1},
      {"A=1\rB=2\nC=3\n", {2, "C", "7"}, 0},
      {std::string(16383, 'x') + "\nA=1\n", {1, "X", "7"}, 0},
      {std::string(16384, 'x') + "\nA=1\n", {1, "X", "7"}, 1},
      {"A=1\n", {0, "B", "7"}, 0},
  };
  for (const row& r : rows) {
    char why[256];
    EXPECT_EQ(unsafe_change_line(r.file.data(), r.file.size(), &r.change, 1, why, sizeof why),
              r.unsafe_line)
        << r.file.substr(0, 20) << " line " << r.change.line;
    EXPECT_EQ(why[0] != '\0', r.unsafe_line != 0) << why;
  }
  // The field shows what the daemon reads: the key in the line's second piece.
  const std::string file = long_line + "\n";
  const check_request request{"settings", 0, {presence_source::option, {true, false}}, {}, nullptr};
  static check_report report;
  ASSERT_TRUE(report_on_text(file.data(), file.size(), request, &report));
  char shown[FORM_VALUE_SIZE];
  field_value_of(report, file.data(), file.size(),
                 known_key_index(report.keys, "MOD_DORMIX_SLEEP_TIME0_HOUR"), shown);
  EXPECT_STREQ(shown, "5");
  field_value_of(report, file.data(), file.size(),
                 known_key_index(report.keys, "MOD_DORMIX_ENABLED"), shown);
  EXPECT_STREQ(shown, "1");
}

TEST(WebRequest, HostWithoutPort) {
  struct row {
    const char* host;
    const char* bare;  // null: refused
  };
  const row rows[] = {
      {"router", "router"},    {"router:8080", "router"},  {"192.168.1.1:80", "192.168.1.1"},
      {"[::1]:8080", "[::1]"}, {"[fe80::1]", "[fe80::1]"}, {"", nullptr},
      {":80", nullptr},        {"router:80x", nullptr},    {"[::1", nullptr},
      {"[::1]x", nullptr},
  };
  for (const row& r : rows) {
    char bare[64];
    const bool kept = host_without_port(r.host, bare, sizeof bare);
    EXPECT_EQ(kept, r.bare != nullptr) << r.host;
    if (kept && r.bare != nullptr) {
      EXPECT_STREQ(bare, r.bare) << r.host;
    }
  }
  EXPECT_TRUE(router_host_name("localhost"));
  EXPECT_TRUE(router_host_name("127.0.0.1"));
  EXPECT_FALSE(router_host_name("evil.example"));
  EXPECT_FALSE(router_host_name("192.0.2.77"));
}

TEST(WebDaemon, FoundOnlyAsTheDaemonItself) {
  struct row {
    const char* comm;
    const char* stat;
    const char* exe;
    bool daemon;
  };
  const row rows[] = {
      {"dormix\n", "400 (dormix) S 1 400 400 0", "/usr/sbin/dormix", true},
      {"dormix\n", "400 (dormix) S 1 400 400 0", "/opt/dormix/bin/dormix (deleted)", true},
      {"dormix\n", "400 (dormix) S 1 400 400 0", nullptr, true},
      // The init script's shell, and what it leaves behind, share the name.
      {"dormix\n", "400 (dormix) S 1 400 400 0", "/bin/busybox", false},
      {"dormix\n", "400 (dormix) S 399 399 399 0", nullptr, false},
      {"dormix\n", "400 (dormix) S 1 400 399 0", "/usr/sbin/dormix", false},
      {"dormix-check\n", "400 (dormix-check) S 1 400 400 0", "/usr/sbin/dormix-check", false},
      {"dormix\n", "garbage", "/usr/sbin/dormix", false},
  };
  for (const row& r : rows) {
    EXPECT_EQ(is_daemon_process(400, process_facts{r.comm, r.stat, r.exe}), r.daemon)
        << r.stat << " " << (r.exe != nullptr ? r.exe : "(unreadable)");
  }
}

// A scratch directory of the test's own, and files in it.
struct scratch {
  std::string dir;
  scratch() {
    char name[] = "web-test-XXXXXX";
    char full[PATH_MAX];
    if (mkdtemp(name) != nullptr && realpath(name, full) != nullptr) dir = full;
    chmod(dir.c_str(), 0755);
  }
  ~scratch() {
    const std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) perror("rm");
  }
  std::string path(const char* name) const { return dir + "/" + name; }
  void write(const char* name, const std::string& text, mode_t mode) const {
    const std::string file = path(name);
    FILE* out = fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr) << file;
    fwrite(text.data(), 1, text.size(), out);
    fclose(out);
    chmod(file.c_str(), mode);
  }
  std::string read(const char* name) const {
    char text[4096];
    const long length = read_whole_file(path(name).c_str(), text, sizeof text);
    return length < 0 ? "(none)" : std::string(text, static_cast<size_t>(length));
  }
  bool exists(const char* name) const { return access(path(name).c_str(), F_OK) == 0; }
};

// Trust needs root's files in a chain of directories only root can change.
bool trusted_scratch(const scratch& place) {
  char why[WEB_WHY_SIZE];
  trust_problem(place.dir.c_str(), why, sizeof why);
  return geteuid() == 0 && why[0] == '\0';
}

// Waits, with a bound far beyond any machine's speed, for a file to appear.
bool eventually_exists(const std::string& path) {
  for (int tenth = 0; tenth < 600; ++tenth) {
    if (access(path.c_str(), F_OK) == 0) return true;
    usleep(100000);
  }
  return false;
}

// Whether the process is gone or a zombie, within the same bound.
bool eventually_dead(pid_t pid) {
  for (int tenth = 0; tenth < 600; ++tenth) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    char stat_text[4096] = {};
    const long length = read_whole_file(path, stat_text, sizeof stat_text - 1);
    if (length < 0 && errno == ENOENT) return true;
    const char* state = length > 0 ? strrchr(stat_text, ')') : nullptr;
    if (state != nullptr && state[2] == 'Z') return true;
    usleep(100000);
  }
  return false;
}

TEST(WebSystem, SecretMadeWholeOnlyBySaves) {
  scratch place;
  if (geteuid() != 0) GTEST_SKIP() << "needs root, whose secret alone counts";
  struct row {
    const char* setup;  // "none", "empty", "short", "fifo", "open" (mode 0644)
    bool may_create;
    secret_state state;
    bool file_after;  // web.secret exists afterwards
  };
  const row rows[] = {
      {"none", false, secret_state::missing, false}, {"none", true, secret_state::made, true},
      {"empty", false, secret_state::missing, true}, {"empty", true, secret_state::made, true},
      {"short", true, secret_state::made, true},     {"fifo", false, secret_state::unusable, true},
      {"fifo", true, secret_state::unusable, true},  {"open", true, secret_state::unusable, true},
      {"whole", false, secret_state::loaded, true},
  };
  for (const row& r : rows) {
    const std::string path = place.path("web.secret");
    unlink(path.c_str());
    const std::string setup = r.setup;
    if (setup == "empty") place.write("web.secret", "", 0600);
    if (setup == "short") place.write("web.secret", "12345", 0600);
    if (setup == "open") place.write("web.secret", std::string(SECRET_SIZE, 'k'), 0644);
    if (setup == "whole") place.write("web.secret", std::string(SECRET_SIZE, 'k'), 0600);
    if (setup == "fifo") {
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    }
    unsigned char secret[SECRET_SIZE] = {};
    char why[WEB_WHY_SIZE];
    EXPECT_EQ(load_secret_at(path.c_str(), r.may_create, secret, why, sizeof why), r.state)
        << r.setup << ": " << why;
    EXPECT_EQ(place.exists("web.secret"), r.file_after) << r.setup;
    if (r.state == secret_state::made) {
      struct stat status {};
      ASSERT_EQ(stat(path.c_str(), &status), 0);
      EXPECT_EQ(status.st_size, SECRET_SIZE) << r.setup;
      EXPECT_EQ(status.st_mode & 0777, 0600U) << r.setup;
      unsigned char again[SECRET_SIZE] = {};
      EXPECT_EQ(load_secret_at(path.c_str(), false, again, why, sizeof why), secret_state::loaded);
      EXPECT_EQ(memcmp(secret, again, SECRET_SIZE), 0) << r.setup;
    }
    const std::string leftovers = "ls '" + place.dir + "' | grep -q web-";
    EXPECT_NE(system(leftovers.c_str()), 0) << r.setup << ": a temporary file was left";
  }
}

// Each way of putting a file in place leaves the old file or the new one,
// and no temporary beside it.
TEST(WebSystem, DurablePutLeavesTheOldFileOrTheNewOne) {
  scratch place;
  struct row {
    const char* before;  // the file's text, null for none
    bool keep_existing;
    const char* directory;  // below the scratch one
    durable_step failed;
    const char* after;
  };
  const row rows[] = {
      {nullptr, false, "", durable_step::none, "new"},
      {"old", false, "", durable_step::none, "new"},
      {nullptr, true, "", durable_step::none, "new"},
      {"old", true, "", durable_step::none, "old"},  // the first one made stays
      {nullptr, false, "/missing", durable_step::create, "(none)"},
  };
  for (const row& r : rows) {
    unlink(place.path("file").c_str());
    if (r.before != nullptr) place.write("file", r.before, 0644);
    const std::string path = place.dir + r.directory + "/file";
    durable_outcome outcome{};
    const durable_file file{path.c_str(), WEB_TEMPORARY_SUFFIX, "new", 3, false, 0, 0,
                            0640,         r.keep_existing};
    EXPECT_EQ(durable_put(file, &outcome), r.failed == durable_step::none) << path;
    EXPECT_EQ(outcome.failed, r.failed) << path;
    EXPECT_EQ(place.read("file"), r.after) << path;
    struct stat status {};
    if (r.before == nullptr && r.failed == durable_step::none) {
      ASSERT_EQ(stat(path.c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 0777, 0640U);
    }
    const std::string leftovers = "ls '" + place.dir + "' | grep -q web-";
    EXPECT_NE(system(leftovers.c_str()), 0) << path << ": a temporary file was left";
  }
}

TEST(WebSystem, TrustCoversLinksAndTheirDirectories) {
  scratch place;
  if (geteuid() != 0) GTEST_SKIP() << "needs root, whose files only root may change";
  // Whatever lies above the scratch directory, findings inside it are the
  // ones each case is about.
  const bool above_trusted = trusted_scratch(place);
  mkdir(place.path("safe").c_str(), 0755);
  mkdir(place.path("open").c_str(), 0775);
  chmod(place.path("open").c_str(), 0775);
  place.write("safe/file", "x", 0644);
  place.write("open/file", "x", 0644);
  place.write("safe/mine", "x", 0664);
  symlink(place.path("open/file").c_str(), place.path("safe/to-open").c_str());
  symlink(place.path("safe/file").c_str(), place.path("open/to-safe").c_str());
  symlink(place.path("safe/file").c_str(), place.path("safe/to-safe").c_str());
  struct row {
    const char* name;
    const char* finding;  // the scratch path a finding names, or null for none
  };
  const row rows[] = {
      {"safe/file", nullptr},    {"safe/to-safe", nullptr}, {"open/file", "open "},
      {"safe/to-open", "open "}, {"open/to-safe", "open "}, {"safe/mine", "safe/mine "},
      {"safe/missing", nullptr}, {"open/missing", "open "},
  };
  for (const row& r : rows) {
    char why[WEB_WHY_SIZE];
    trust_problem(place.path(r.name).c_str(), why, sizeof why);
    const std::string found = why;
    const bool inside = found.find(place.dir + "/") != std::string::npos;
    EXPECT_EQ(inside, r.finding != nullptr) << r.name << ": " << why;
    if (r.finding != nullptr) {
      EXPECT_NE(found.find(place.path(r.finding)), std::string::npos) << r.name << ": " << why;
    }
    // The switch file: present, regular and trusted, directories included.
    const bool present = strstr(r.name, "missing") == nullptr;
    if (above_trusted) {
      EXPECT_EQ(switch_file_trusted(place.path(r.name).c_str()), r.finding == nullptr && present)
          << r.name;
    } else {
      EXPECT_FALSE(switch_file_trusted(place.path(r.name).c_str())) << r.name;
    }
  }
  check_findings findings{};
  EXPECT_EQ(link_trust_findings(place.path("open/to-safe").c_str(), "the settings file", &findings),
            1);
  char target[PATH_MAX];
  settings_target(place.path("open/to-safe").c_str(), target, sizeof target);
  EXPECT_EQ(std::string(target), place.path("safe/file"));
}

// A clock that jumps five seconds at every reading.
int jumping_seconds(void* context) {
  int* now = static_cast<int*>(context);
  *now += 5;
  return *now;
}

TEST(WebSystem, WaitsAreBounded) {
  scratch place;
  int now = 0;
  const deadline_clock clock{&now, jumping_seconds};
  const std::string settings = place.path("settings");
  const int held = lock_settings_directory(settings.c_str(), clock, 10);
  ASSERT_GE(held, 0);
  EXPECT_EQ(lock_settings_directory(settings.c_str(), clock, 10), -1) << "a second save waits";
  close(held);
  const int again = lock_settings_directory(settings.c_str(), clock, 10);
  EXPECT_GE(again, 0);
  close(again);

  struct row {
    const char* sent;
    bool close_after;
    size_t wanted;
    bool read;
  };
  const row rows[] = {
      {"abc", false, 3, true},
      {"ab", true, 3, false},
      {"", false, 693, false},  // nothing sent: the deadline ends the wait
  };
  for (const row& r : rows) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], r.sent, strlen(r.sent)), static_cast<ssize_t>(strlen(r.sent)));
    if (r.close_after) close(fds[1]);
    char body[1024];
    EXPECT_EQ(read_exactly_until(fds[0], body, r.wanted, clock, BODY_TIMEOUT_SECONDS), r.read)
        << r.sent;
    close(fds[0]);
    if (!r.close_after) close(fds[1]);
  }
}

TEST(WebSystem, ToolsRunDetachedAndBounded) {
  scratch place;
  const std::string dir = place.dir;
  place.write("status", "#!/bin/sh\necho \"Binary Input 0: on\"\nenv\n", 0755);
  place.write("hung-status", "#!/bin/sh\nsleep 1000 & echo $! > " + dir + "/child\nwait\n", 0755);
  setenv("HTTP_COOKIE", "session=secret", 1);
  char output[STATUS_OUTPUT_SIZE];
  EXPECT_TRUE(run_status_tool(place.path("status").c_str(), "ports", 30, output, sizeof output));
  EXPECT_NE(strstr(output, "Binary Input 0: on"), nullptr) << output;
  EXPECT_EQ(strstr(output, "HTTP_COOKIE"), nullptr) << "the request reached the status tool";
  EXPECT_FALSE(
      run_status_tool(place.path("hung-status").c_str(), "ports", 1, output, sizeof output));
  ASSERT_TRUE(eventually_exists(place.path("child")));
  EXPECT_TRUE(eventually_dead(std::stoi(place.read("child"))))
      << "the hung tool's child outlived it";
  unsetenv("HTTP_COOKIE");

  struct row {
    const char* script;
    int timeout;
    restart_result result;
    int status;
    const char* output;
  };
  const std::string hung =
      "#!/bin/sh\necho stopping\nsleep 1000 & echo $! > " + dir + "/restart-child\nwait\n";
  const row rows[] = {
      {"#!/bin/sh\necho restarted\n", 30, restart_result::done, 0, "restarted\n"},
      {"#!/bin/sh\necho broken >&2\nexit 3\n", 30, restart_result::failed, 3, "broken\n"},
      {hung.c_str(), 1, restart_result::timed_out, -1, "stopping\n"},
  };
  for (const row& r : rows) {
    place.write("restart", r.script, 0755);
    static restart_outcome outcome;
    run_restart(place.path("restart").c_str(), r.timeout, &outcome);
    EXPECT_EQ(outcome.result, r.result) << r.script;
    EXPECT_EQ(outcome.status, r.status) << r.script;
    EXPECT_STREQ(outcome.output, r.output) << r.script;
  }
  ASSERT_TRUE(eventually_exists(place.path("restart-child")));
  EXPECT_TRUE(eventually_dead(std::stoi(place.read("restart-child"))))
      << "the hung script's child outlived it";
}

TEST(WebSystem, RestartOutlivesThePage) {
  scratch place;
  const std::string dir = place.dir;
  // Writes after the page is gone, as an init script echoes while its
  // daemon takes its time to stop.
  place.write("restart",
              "#!/bin/sh\n: > " + dir + "/started\nwhile [ ! -e " + dir +
                  "/page-killed ]; do sleep 0.1; done\nfor i in 1 2 3 4 5 6 7 8; do echo "
                  "stopping $i; done\n: > " +
                  dir + "/finished\n",
              0755);
  const pid_t page = fork();
  ASSERT_GE(page, 0);
  if (page == 0) {
    setpgid(0, 0);
    static restart_outcome outcome;
    run_restart((dir + "/restart").c_str(), 60, &outcome);
    _exit(0);
  }
  setpgid(page, page);
  ASSERT_TRUE(eventually_exists(place.path("started")));
  // The web server gives up on the page: its whole process group goes.
  kill(-page, SIGKILL);
  waitpid(page, nullptr, 0);
  place.write("page-killed", "", 0644);
  EXPECT_TRUE(eventually_exists(place.path("finished"))) << "the restart died with the page";
}

// The router as a request sees it, scripted.
struct fake_router {
  std::string settings;
  std::vector<std::pair<std::string, std::string>> environment;
  std::string body;
  secret_state secret = secret_state::loaded;
  bool switched_off = false;
  bool lock_free = true;
  restart_result restart = restart_result::done;
  pid_t daemon_before = 42;  // the daemon's pid before the restart, and after it
  pid_t daemon_after = 42;
  time_t now = 1800000000;
  std::string lpm_config;  // dormix-lpm's configuration file; empty: none
  // What happened.
  std::string written = "(nothing)";
  std::vector<std::string> calls;
};

fake_router* router_of(void* context) { return static_cast<fake_router*>(context); }

const char* fake_environment(void* context, const char* name) {
  for (const auto& [key, value] : router_of(context)->environment) {
    if (key == name) return value.c_str();
  }
  return nullptr;
}

bool fake_read_body(void* context, char* out, size_t length) {
  const std::string& body = router_of(context)->body;
  if (body.size() < length) return false;
  memcpy(out, body.data(), length);
  return true;
}

long fake_read_settings(void* context, char* out, size_t size) {
  const std::string& text = router_of(context)->settings;
  if (text.size() > size) {
    errno = EFBIG;
    return -1;
  }
  memcpy(out, text.data(), text.size());
  return static_cast<long>(text.size());
}

const unsigned char FAKE_SECRET[SECRET_SIZE] = {9, 9, 9};

secret_state fake_load_secret(void* context, bool may_create, unsigned char secret[SECRET_SIZE],
                              char* why, size_t why_size) {
  fake_router* router = router_of(context);
  router->calls.push_back(may_create ? "secret may be made" : "secret only read");
  snprintf(why, why_size, "no secret");
  memcpy(secret, FAKE_SECRET, SECRET_SIZE);
  if (router->secret == secret_state::missing && may_create) return secret_state::made;
  return router->secret;
}

bool fake_switched_off(void* context) { return router_of(context)->switched_off; }
bool fake_is_router_host(void* /*context*/, const char* host) {
  return strcmp(host, "router.lan") == 0 || strcmp(host, "192.168.1.1") == 0;
}
void fake_save_obstacle(void* /*context*/, char* why, size_t /*why_size*/) { why[0] = '\0'; }
void fake_trust_findings(void* /*context*/, check_findings* /*findings*/) {}

bool fake_lock(void* context) {
  router_of(context)->calls.push_back("lock");
  return router_of(context)->lock_free;
}

void fake_unlock(void* context) { router_of(context)->calls.push_back("unlock"); }

bool fake_replace(void* context, const char* data, size_t size, char* /*why*/,
                  size_t /*why_size*/) {
  router_of(context)->calls.push_back("write");
  router_of(context)->written.assign(data, size);
  return true;
}

pid_t fake_running_daemon(void* context) {
  const fake_router& router = *router_of(context);
  const bool restarted = !router.calls.empty() && router.calls.back() == "restart";
  return restarted ? router.daemon_after : router.daemon_before;
}

void fake_restart(void* context, restart_outcome* outcome) {
  router_of(context)->calls.push_back("restart");
  outcome->result = router_of(context)->restart;
  outcome->status = outcome->result == restart_result::done ? 0 : -1;
  snprintf(outcome->output, sizeof outcome->output, "stopping dormix");
}

bool fake_status_ports(void* context, char* out) {
  router_of(context)->calls.push_back("status");
  snprintf(out, STATUS_OUTPUT_SIZE, "Binary Input 0: on\n");
  return true;
}

const char* fake_lpm_config(void* context, char* out) {
  const std::string& text = router_of(context)->lpm_config;
  if (text.empty()) return nullptr;
  snprintf(out, LPM_CONFIG_MAX + 1, "%s", text.c_str());
  return out;
}

time_t fake_wall_clock(void* context) { return router_of(context)->now; }
time_zone_choice fake_time_zone(void* /*context*/) { return time_zone_choice{}; }
void fake_pause(void* /*context*/, int /*milliseconds*/) {}
int fake_input(void* /*context*/, int /*n*/) { return 0; }
int fake_seconds(void* /*context*/) { return 100; }
bool fake_gpio(void* /*context*/) { return false; }
const char* fake_ports(void* /*context*/) { return nullptr; }

web_platform fake_platform(fake_router* router) {
  web_platform platform{};
  platform.context = router;
  platform.environment = fake_environment;
  platform.read_body = fake_read_body;
  platform.read_settings = fake_read_settings;
  platform.load_secret = fake_load_secret;
  platform.remote_user_switched_off = fake_switched_off;
  platform.is_router_host = fake_is_router_host;
  platform.save_obstacle = fake_save_obstacle;
  platform.trust_findings = fake_trust_findings;
  platform.lock_settings = fake_lock;
  platform.unlock_settings = fake_unlock;
  platform.replace_settings = fake_replace;
  platform.running_daemon = fake_running_daemon;
  platform.restart_daemon = fake_restart;
  platform.status_ports = fake_status_ports;
  platform.lpm_config_text = fake_lpm_config;
  platform.wall_clock = fake_wall_clock;
  platform.use_time_zone = fake_time_zone;
  platform.pause_milliseconds = fake_pause;
  platform.field =
      field_platform{nullptr, fake_ports, fake_input, fake_input, fake_seconds, fake_gpio};
  return platform;
}

// The form a browser posts for the page of a file: the file's values as the
// page drew them, and the controls set to show the changed values.
std::string form_body(const std::string& file, const std::vector<std::string>& changes,
                      time_t made) {
  const check_request request{"settings", 0, {presence_source::option, {true, false}}, {}, nullptr};
  static check_report report;
  EXPECT_TRUE(report_on_text(file.data(), file.size(), request, &report));
  uint8_t digest[SHA256_SIZE];
  sha256(file.data(), file.size(), digest);
  char hash[SHA256_HEX_SIZE];
  digest_hex(digest, hash);
  key_values shown;
  key_values changed;
  std::string body;
  for (int i = 0; i < KNOWN_KEY_COUNT; ++i) {
    field_value_of(report, file.data(), file.size(), i, shown[i]);
    memcpy(changed[i], shown[i], FORM_VALUE_SIZE);
    const std::string name = report.keys[i].name;
    for (const std::string& change : changes) {
      if (change.rfind(name + "=", 0) == 0) {
        snprintf(changed[i], FORM_VALUE_SIZE, "%s", change.substr(name.size() + 1).c_str());
      }
    }
    body += name + "=" + shown[i] + "&";
  }
  char token[FORM_TOKEN_SIZE];
  form_token(FAKE_SECRET, SECRET_SIZE, "admin", hash, made, token);
  body += std::string("hash=") + hash + "&token=" + token;
  for (int c = 0; c < SETTING_CONTROL_COUNT; ++c) {
    const setting_control& control = control_at(c);
    char value[FORM_VALUE_SIZE];
    control_value(control, report.keys, changed, value);
    if (control.kind != control_kind::toggle || value[0] != '\0') {
      body += std::string("&") + control.name + "=" + value;
    }
  }
  return body;
}

// The body with the last digit of its token's MAC changed.
std::string forged(std::string body) {
  const size_t end = body.find('&', body.find("&token=") + 1);
  char& digit = body[(end == std::string::npos ? body.size() : end) - 1];
  digit = digit == '0' ? '1' : '0';
  return body;
}

TEST(WebServe, RequestsOverAScriptedRouter) {
  const std::string file = "MOD_DORMIX_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=22\nX=1\n";
  const std::string long_file =
      "MOD_DORMIX_ENABLED=1" + std::string(16363, ' ') + "MOD_DORMIX_SLEEP_TIME0_HOUR=5\nX=1\n";
  const std::string full_file = file + "# " + std::string(65536 - file.size() - 3, 'z') + "\n";
  const time_t now = 1800000000;
  const std::vector<std::string> hour_seven = {"MOD_DORMIX_SLEEP_TIME0_HOUR=7"};
  struct row {
    const char* what;
    std::string settings;
    const char* method;
    std::string body;
    const char* host;
    bool switched_off;
    secret_state secret;
    bool lock_free;
    restart_result restart;
    int status;
    std::string written;  // "(nothing)" when nothing may be
    const char* calls;    // in order
    const char* shown;    // in the notice, the refusal or the restart's output
  };
  const char* post = "POST";
  const row rows[] = {
      {"a page", file, "GET", "", "router.lan", false, secret_state::loaded, true,
       restart_result::done, 200, "(nothing)", "status secret only read", ""},
      {"a page over the board's own low-power tool", "MOD_DORMIX_SLEEP_DELAY0_ENABLED=1\n", "GET",
       "", "router.lan", false, secret_state::loaded, true, restart_result::done, 200, "(nothing)",
       "status secret only read", ""},
      {"a page never makes the secret", file, "GET", "", "router.lan", false, secret_state::missing,
       true, restart_result::done, 200, "(nothing)", "status secret only read", ""},
      {"a save", file, post, form_body(file, hour_seven, now - 60), "router.lan", false,
       secret_state::loaded, true, restart_result::done, 200,
       "MOD_DORMIX_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=7\nX=1\n",
       "status secret may be made lock write unlock restart", "Saved 1 changed value"},
      {"a save that starts the daemon", file, post, form_body(file, hour_seven, now - 60),
       "router.lan", false, secret_state::loaded, true, restart_result::done, 200,
       "MOD_DORMIX_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=7\nX=1\n",
       "status secret may be made lock write unlock restart", "Saved 1 changed value"},
      {"a hung restart", file, post, form_body(file, hour_seven, now), "router.lan", false,
       secret_state::loaded, true, restart_result::timed_out, 200,
       "MOD_DORMIX_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_HOUR=7\nX=1\n",
       "status secret may be made lock write unlock restart", "did not end within"},
      {"a long line", long_file, post, form_body(long_file, hour_seven, now), "router.lan", false,
       secret_state::loaded, true, restart_result::done, 422, "(nothing)",
       "status secret may be made lock", "longer than the 16383 characters"},
      {"a file grown past the page", full_file, post,
       form_body(full_file, {"MOD_DORMIX_WAKEUP_BIN_ENABLED=1", "MOD_DORMIX_SLEEP_BIN0_SECOND=9"},
                 now),
       "router.lan", false, secret_state::loaded, true, restart_result::done, 422, "(nothing)",
       "status secret may be made lock", "larger than the 64 KiB"},
      {"a replayed form", file, post, form_body(file, hour_seven, now - 3601), "router.lan", false,
       secret_state::loaded, true, restart_result::done, 409, "(nothing)",
       "status secret may be made lock", "more than an hour old"},
      {"a first save", file, post, form_body(file, hour_seven, now), "router.lan", false,
       secret_state::missing, true, restart_result::done, 409, "(nothing)",
       "status secret may be made lock", "one was made now"},
      {"a forged form", file, post, forged(form_body(file, hour_seven, now)), "router.lan", false,
       secret_state::loaded, true, restart_result::done, 403, "(nothing)",
       "status secret may be made lock", "token does not match"},
      {"a held lock", file, post, form_body(file, hour_seven, now), "router.lan", false,
       secret_state::loaded, false, restart_result::done, 503, "(nothing)",
       "status secret may be made lock", "another save held the settings"},
      {"a body not sent", file, post, "", "router.lan", false, secret_state::loaded, true,
       restart_result::done, 400, "(nothing)", "", "not sent within"},
      {"no user, another host", file, "GET", "", "evil.example", true, secret_state::loaded, true,
       restart_result::done, 403, "(nothing)", "", "not one of this router's names"},
      {"no user, the router's address", file, "GET", "", "192.168.1.1:8080", true,
       secret_state::loaded, true, restart_result::done, 200, "(nothing)",
       "status secret only read", ""},
      {"no user, a save from another host", file, post, form_body(file, hour_seven, now),
       "evil.example", true, secret_state::loaded, true, restart_result::done, 403, "(nothing)", "",
       "not one of this router's names"},
  };
  static web_session session;
  for (const row& r : rows) {
    fake_router router;
    router.settings = r.settings;
    router.body = r.body;
    router.secret = r.secret;
    router.switched_off = r.switched_off;
    router.lock_free = r.lock_free;
    router.restart = r.restart;
    router.now = now;
    router.environment = {{"REQUEST_METHOD", r.method},
                          {"HTTP_HOST", r.host},
                          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                          {"CONTENT_LENGTH", std::to_string(r.body.size() + 1)}};
    if (strcmp(r.method, "POST") == 0)
      router.environment.back().second = std::to_string(r.body.size());
    if (strcmp(r.what, "a body not sent") == 0) router.environment.back().second = "693";
    if (!r.switched_off) router.environment.emplace_back("REMOTE_USER", "admin");
    const bool board_lpm = strcmp(r.what, "a page over the board's own low-power tool") == 0;
    const bool starts = strcmp(r.what, "a save that starts the daemon") == 0;
    if (starts) router.daemon_before = 0;
    if (starts) router.daemon_after = 2031;
    if (board_lpm) router.lpm_config = "method=suspend\n";
    session = web_session{};
    const web_platform platform = fake_platform(&router);
    const web_answer answer = answer_request(platform, &session);
    EXPECT_EQ(answer.status, r.status) << r.what << ": " << answer.text;
    EXPECT_EQ(router.written, r.written) << r.what;
    std::string calls;
    for (const std::string& call : router.calls) calls += (calls.empty() ? "" : " ") + call;
    EXPECT_EQ(calls, r.calls) << r.what;
    const std::string said =
        std::string(answer.text) + session.page.notice_text + session.page.restart_output;
    EXPECT_NE(said.find(r.shown), std::string::npos) << r.what << ": " << said;
    if (answer.page) {
      // The page renders whatever happened.
      char* text = nullptr;
      size_t size = 0;
      FILE* out = open_memstream(&text, &size);
      EXPECT_EQ(write_answer(answer, session, out), 0);
      fclose(out);
      const std::string page(text, size);
      EXPECT_NE(page.find("</html>"), std::string::npos) << r.what;
      // The board's method reaches the analysis: after a suspend that
      // returns, the delay rule fires again at once.
      EXPECT_EQ(page.find("[delay-after-wake]") != std::string::npos, board_lpm) << r.what;
      // No pid before the restart is no daemon, not pid 0.
      const char* report = starts ? "the daemon was not running and now runs as pid 2031."
                                  : "the daemon ran as pid 42 and now runs as pid 42.";
      if (r.restart == restart_result::done && strstr(calls.c_str(), "restart") != nullptr) {
        EXPECT_NE(page.find(report), std::string::npos) << r.what;
      }
      free(text);
    }
  }
}

}  // namespace
