// The settings page's pieces that decide: requests, form fields, escaping,
// the line-preserving rewrite and the token's HMAC.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "web/editor.h"
#include "web/fields.h"
#include "web/form.h"
#include "web/html.h"
#include "web/page.h"
#include "web/rewrite.h"
#include "web/sha256.h"

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
  const check_request request{"settings", 0, {presence_source::option, {true, false}}, {}};
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
  const check_request request{"settings", 0, true, {true, true}, {}};
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

}  // namespace
