// Configuration strings through the Config method of the loaded engine module: initial
// answers, setting and querying every kind of setting, value reading and the grammar.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "tests/entry_points/engine_module.h"

namespace {

using test::Engine;
using test::Ping;

constexpr char kUnknown[] = "Unknown config setting.";

struct Answered {
    int32_t rc;
    const char* answer;  // exactly as the engine placed it in slot [1]
};

// A result slot's pointer, taken out of line: GCC 12 at -O2 otherwise assumes it still
// points into the slot array and sizes copies of the text by that array.
template <typename Char>
[[gnu::noinline]] const Char* SlotPointer(intptr_t slot) {
    return reinterpret_cast<const Char*>(slot);
}

// Config with the raw answer pointer, to tell an empty answer from a missing one.
Answered RawConfig(const Ping& ping, const char* setting) {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
    int32_t lengths[2] = {};
    const int32_t rc = Engine().Do(ping.handle(), CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    return {rc, SlotPointer<char>(slots[1])};
}

std::string Query(const Ping& ping, const char* name) {
    std::string answer;
    const int32_t rc = ping.Config(name, &answer);
    EXPECT_EQ(rc, 0) << "query " << name;
    return answer;
}

// A setting must succeed and answer with an empty text.
void Apply(const Ping& ping, const std::string& setting) {
    const Answered a = RawConfig(ping, setting.c_str());
    ASSERT_EQ(a.rc, 0) << setting;
    ASSERT_NE(a.answer, nullptr) << setting;
    EXPECT_STREQ(a.answer, "") << setting;
}

std::string Cased(const char* name, int variant) {
    std::string out = name;
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (variant == 1) out[i] = static_cast<char>(std::tolower(c));
        if (variant == 2) out[i] = static_cast<char>(std::toupper(c));
        if (variant == 3 && i % 2 == 0) out[i] = static_cast<char>(std::toupper(c));
    }
    return out;
}

// Every setting of the three layers and its answer on a new object.
struct Initial {
    const char* name;
    const char* answer;
    bool timeout;  // one of the timeout names, which a reset leaves at 0
    bool root;     // root layer
};

const Initial kInitialAnswers[] = {
    // ICMP port
    {"UseICMPDLL", "False", false, false},
    {"UseIPHLPDLL", "False", false, false},
    {"IcmpDllTimeout", "60", true, false},
    {"IphlpDllTimeout", "60", true, false},
    {"Timeout", "60", true, false},
    {"UseConnection", "True", false, false},
    {"MaxPacketSize", "2048", false, false},
    {"MaxMessageSize", "2048", false, false},
    {"QOSFlags", "0", false, false},
    {"SocketHandle", "-1", false, false},
    {"InBufferSize", "1048576", false, false},
    {"OutBufferSize", "262144", false, false},
    {"DontFragment", "False", false, false},
    {"MulticastTTL", "0", false, false},
    {"ReceiveAllMode", "-1", false, false},
    {"ReceiveAll", "false", false, false},
    // socket layer, settings that act on the ping object
    {"SelectWaitMillis", "20", false, false},
    {"AbsoluteTimeout", "False", false, false},
    {"TimeoutInMilliseconds", "0", false, false},
    {"WinsockStatus", "0", false, false},
    {"IgnoreExternalEvents", "False", false, false},
    {"IgnoreOtherWindowEvents", "False", false, false},
    {"WinsockVersion", "2.2", false, false},
    {"QOSTrafficType", "0", false, false},
    {"QOSDSCPValue", "0", false, false},
    {"UseWindowsMessages", "1", false, false},
    {"UseIPv6", "False", false, false},
    {"UseGetAddrInfo", "True", false, false},
    // socket layer, settings kept for other components
    {"SSLProvider", "Microsoft Unified Security Protocol Provider", false, false},
    {"SSLCipherStrength", "40", false, false},
    {"UseDefaultCredentials", "False", false, false},
    {"ReuseSSLSession", "False", false, false},
    {"ExtendedProtection", "False", false, false},
    {"SSLEnabledCipherSuites", "", false, false},
    {"SSLAlgorithmList", "", false, false},
    {"SSLSecurityFlags", "0", false, false},
    {"SSLIncludeCertChain", "False", false, false},
    {"SSLEnabledProtocols", "4032", false, false},
    {"SSLEnableRenegotiation", "True", false, false},
    {"KerberosSPN", "", false, false},
    {"UseSystemSSPI", "False", false, false},
    {"RecordToFile", "", false, false},
    {"RecordToString", "", false, false},
    {"UseInternalSecurityAPI", "False", false, false},
    // root
    {"CodePage", "0", false, true},
    {"CharsetMode", "0", false, true},
    {"LogDebugFile", "", false, true},
    {"LogDebugOption", "0", false, true},
    {"LastError", "", false, true},
    {"ZeroMemory", "False", false, true},
};

TEST(Config, InitialAnswersOfEverySetting) {
    Ping ping;
    for (const Initial& row : kInitialAnswers) {
        for (int variant = 0; variant < 4; ++variant) {
            const std::string name = Cased(row.name, variant);
            const Answered a = RawConfig(ping, name.c_str());
            EXPECT_EQ(a.rc, 0) << name;
            ASSERT_NE(a.answer, nullptr) << name;
            EXPECT_STREQ(a.answer, row.answer) << name;
        }
    }
    EXPECT_EQ(ping.LastErrorCode(), 0);
    EXPECT_EQ(ping.LastError(), "");
}

TEST(Config, SettingThenQueryingEachKind) {
    struct Row {
        const char* setting;
        const char* query;
        const char* answer;
    };
    const Row rows[] = {
        // ICMP port
        {"UseICMPDLL=true", "UseICMPDLL", "True"},
        {"UseIPHLPDLL=1", "UseIPHLPDLL", "True"},
        {"Timeout=9", "Timeout", "9"},
        {"IcmpDllTimeout=7", "Timeout", "7"},
        {"IphlpDllTimeout=8", "IcmpDllTimeout", "8"},
        {"Timeout=11", "IphlpDllTimeout", "11"},
        {"Timeout=5000000", "Timeout", "2147483"},
        {"Timeout=2147483", "Timeout", "2147483"},
        {"Timeout=-5", "Timeout", "-5"},
        {"Timeout=0", "Timeout", "0"},
        {"Timeout=abc", "Timeout", "0"},
        {"Timeout=-3000000", "Timeout", "-2147483"},
        {"UseConnection=false", "UseConnection", "False"},
        {"MaxPacketSize=500", "MaxPacketSize", "500"},
        {"MaxMessageSize=600", "MaxPacketSize", "600"},
        {"MaxPacketSize=700", "MaxMessageSize", "700"},
        {"QOSFlags=16", "QOSFlags", "16"},
        {"QOSFlags=-1", "QOSFlags", "-1"},
        {"InBufferSize=4096", "InBufferSize", "4096"},
        {"OutBufferSize=8192", "OutBufferSize", "8192"},
        {"InBufferSize=-7", "InBufferSize", "-7"},
        {"DontFragment=yes", "DontFragment", "True"},
        {"MulticastTTL=5", "MulticastTTL", "5"},
        {"ReceiveAllMode=3", "ReceiveAllMode", "3"},
        {"ReceiveAll=true", "ReceiveAllMode", "1"},
        {"ReceiveAll=true", "ReceiveAll", "true"},
        {"ReceiveAll=false", "ReceiveAllMode", "0"},
        {"ReceiveAll=false", "ReceiveAll", "false"},
        {"ReceiveAllMode=1", "ReceiveAll", "true"},
        {"ReceiveAllMode=2", "ReceiveAll", "false"},
        {"ReceiveAllMode=0", "ReceiveAll", "false"},
        // socket layer
        {"SelectWaitMillis=35", "SelectWaitMillis", "35"},
        {"AbsoluteTimeout=TRUE", "AbsoluteTimeout", "True"},
        {"TimeoutInMilliseconds=1", "TimeoutInMilliseconds", "1"},
        {"IgnoreExternalEvents=yes", "IgnoreExternalEvents", "True"},
        {"IgnoreOtherWindowEvents=1", "IgnoreOtherWindowEvents", "True"},
        {"QOSTrafficType=Voice", "QOSTrafficType", "4"},
        {"QOSDSCPValue=46", "QOSDSCPValue", "46"},
        {"UseWindowsMessages=false", "UseWindowsMessages", "0"},
        {"UseIPv6=true", "UseIPv6", "True"},
        {"UseGetAddrInfo=0", "UseGetAddrInfo", "False"},
        {"SSLProvider=My Provider", "SSLProvider", "My Provider"},
        {"SSLCipherStrength=128", "SSLCipherStrength", "128"},
        {"UseDefaultCredentials=1", "UseDefaultCredentials", "True"},
        {"ReuseSSLSession=1", "ReuseSSLSession", "True"},
        {"ExtendedProtection=1", "ExtendedProtection", "True"},
        {"SSLEnabledCipherSuites=AES", "SSLAlgorithmList", "AES"},
        {"SSLAlgorithmList=RC4:DES", "SSLEnabledCipherSuites", "RC4:DES"},
        {"SSLSecurityFlags=0x80", "SSLSecurityFlags", "128"},
        {"SSLIncludeCertChain=1", "SSLIncludeCertChain", "True"},
        {"SSLEnabledProtocols=192", "SSLEnabledProtocols", "192"},
        {"SSLEnableRenegotiation=false", "SSLEnableRenegotiation", "False"},
        {"KerberosSPN=HTTP/host.example", "KerberosSPN", "HTTP/host.example"},
        {"UseSystemSSPI=1", "UseSystemSSPI", "True"},
        {"RecordToFile=C:\\logs\\ping.txt", "RecordToFile", "C:\\logs\\ping.txt"},
        {"RecordToString=on", "RecordToString", ""},
        {"RecordToString=ON", "RecordToString", ""},
        {"UseInternalSecurityAPI=yes", "UseInternalSecurityAPI", "True"},
        // root
        {"CodePage=1252", "CodePage", "1252"},
        {"CodePage=-1", "CodePage", "-1"},
        {"CharsetMode=2", "CharsetMode", "2"},
        {"CharsetMode=300", "CharsetMode", "44"},
        {"CharsetMode=-1", "CharsetMode", "255"},
        {"LogDebugFile=debug.log", "LogDebugFile", "debug.log"},
        {"LogDebugOption=7", "LogDebugOption", "7"},
        {"LogDebugOption=4294967295", "LogDebugOption", "4294967295"},
        {"LogDebugOption=-2", "LogDebugOption", "4294967294"},
        {"LogDebugOption=0x80000000", "LogDebugOption", "2147483648"},
    };
    for (const Row& row : rows) {
        Ping ping;
        Apply(ping, row.setting);
        EXPECT_EQ(Query(ping, row.query), row.answer) << row.setting;
        EXPECT_EQ(ping.LastErrorCode(), 0) << row.setting;
    }
}

TEST(Config, BooleanSettingsReadTheirValue) {
    struct Flag {
        const char* name;
        const char* on;
        const char* off;
    };
    const Flag flags[] = {
        {"UseICMPDLL", "True", "False"},
        {"UseIPHLPDLL", "True", "False"},
        {"UseConnection", "True", "False"},
        {"DontFragment", "True", "False"},
        {"ReceiveAll", "true", "false"},
        {"AbsoluteTimeout", "True", "False"},
        {"TimeoutInMilliseconds", "1", "0"},
        {"IgnoreExternalEvents", "True", "False"},
        {"IgnoreOtherWindowEvents", "True", "False"},
        {"UseWindowsMessages", "1", "0"},
        {"UseIPv6", "True", "False"},
        {"UseGetAddrInfo", "True", "False"},
        {"UseDefaultCredentials", "True", "False"},
        {"ReuseSSLSession", "True", "False"},
        {"ExtendedProtection", "True", "False"},
        {"SSLIncludeCertChain", "True", "False"},
        {"SSLEnableRenegotiation", "True", "False"},
        {"UseSystemSSPI", "True", "False"},
        {"UseInternalSecurityAPI", "True", "False"},
    };
    struct Value {
        const char* text;
        bool on;
    };
    const Value values[] = {
        {"TRUE", true}, {"true", true}, {"True", true},    {"yes", true}, {"YES", true},
        {"1", true},    {" 1 ", true},  {"\"yes\"", true}, {"on", false}, {"ON", false},
        {"0", false},   {"no", false},  {"false", false},  {"y", false},  {"01", false},
        {"-1", false},  {"tru", false}, {"\"\"", false},   {"", false},
    };
    for (const Flag& flag : flags) {
        Ping ping;
        for (const Value& value : values) {
            // Start from the opposite state so that every row changes something.
            Apply(ping, std::string(flag.name) + "=" + (value.on ? "0" : "1"));
            const std::string setting = std::string(flag.name) + "=" + value.text;
            Apply(ping, setting);
            EXPECT_EQ(Query(ping, flag.name), value.on ? flag.on : flag.off) << setting;
        }
    }
}

TEST(Config, NumberValues) {
    struct Row {
        const char* value;
        const char* answer;
    };
    const Row rows[] = {
        {"42", "42"},
        {"+42", "42"},
        {"-42", "-42"},
        {"007", "7"},
        {"0x4E4", "1252"},
        {"0X4e4", "1252"},
        {"0x", "0"},
        {"0X", "0"},
        {"0x-10", "-16"},
        {"0x+1F", "31"},
        {"-0x10", "0"},
        {"12abc", "12"},
        {"abc", "0"},
        {"-", "0"},
        {"", "0"},
        {"  25  ", "25"},
        {"\" 25\"", "0"},
        {"2147483647", "2147483647"},
        {"2147483648", "-2147483648"},
        {"4294967297", "1"},
        {"-2147483649", "2147483647"},
        {"0xFFFFFFFF", "-1"},
        {"0x100000005", "5"},
    };
    for (const Row& row : rows) {
        Ping ping;
        Apply(ping, "SelectWaitMillis=99");
        const std::string setting = std::string("SelectWaitMillis=") + row.value;
        Apply(ping, setting);
        EXPECT_EQ(Query(ping, "SelectWaitMillis"), row.answer) << setting;
    }

    // The code page written in hexadecimal is the code page the object uses.
    Ping ping;
    Apply(ping, "CodePage=0x4E4");
    EXPECT_EQ(ping.Get(CORVANE_PING_CODE_PAGE_ID), 1252);
    EXPECT_EQ(Query(ping, "CodePage"), "1252");
}

TEST(Config, QuotingTrimmingAndIndex) {
    struct Row {
        const char* setting;
        const char* query;
        const char* answer;
    };
    const Row rows[] = {
        {"  Timeout  =  5  ", "Timeout", "5"},
        {"Timeout=  7", "Timeout", "7"},
        {"Timeout=8   ", "Timeout", "8"},
        {"Timeout=", "Timeout", "0"},
        {"SelectWaitMillis=", "SelectWaitMillis", "0"},
        {"SSLProvider=", "SSLProvider", ""},
        {"SSLProvider=   ", "SSLProvider", ""},
        {"DontFragment=\"1\"", "DontFragment", "True"},
        {"DontFragment=  \"yes\"  ", "DontFragment", "True"},
        {"KerberosSPN=\"  a b  \"", "KerberosSPN", "  a b  "},
        {"KerberosSPN=  a b  ", "KerberosSPN", "a b"},
        {"KerberosSPN=\"", "KerberosSPN", ""},
        {"KerberosSPN=\"\"", "KerberosSPN", ""},
        {"KerberosSPN=\"open", "KerberosSPN", "open"},
        {"KerberosSPN=close\"", "KerberosSPN", "close\""},
        {"KerberosSPN=\"a\"b\"", "KerberosSPN", "a\"b"},
        {"KerberosSPN=a=b[1](2)", "KerberosSPN", "a=b[1](2)"},
        {"KerberosSPN=C:\\dir\\", "KerberosSPN", "C:\\dir\\"},
        {"KerberosSPN=\"C:\\dir\\\"", "KerberosSPN", "C:\\dir\\"},
        {"KerberosSPN=\ttab\t", "KerberosSPN", "\ttab\t"},
        {"Timeout[3]=5", "Timeout", "5"},
        {"Timeout(2)=7", "Timeout", "7"},
        {"Timeout[ 1 ]= 9", "Timeout", "9"},
        {"  Timeout [x] = 4", "Timeout", "4"},
        {"Time[0]out=6", "Timeout", "6"},
        {"Timeout=12", "Timeout[5]", "12"},
        {"Timeout=13", "timeout(0)", "13"},
        {"Timeout=14", "TIMEOUT[abc]", "14"},
        {"SelectWaitMillis=3", "SelectWaitMillis[1", "3"},
        {"CodePage=65001", "SocketHandle[2]", "-1"},
    };
    for (const Row& row : rows) {
        Ping ping;
        // Give every text setting something to lose first.
        Apply(ping, "KerberosSPN=previous");
        Apply(ping, row.setting);
        EXPECT_EQ(Query(ping, row.query), row.answer) << row.setting << " / " << row.query;
    }
}

TEST(Config, UnknownNamesFail) {
    const char* rows[] = {
        "Bogus",
        "Bogus=1",
        "",
        "=",
        "=5",
        "Timeout ",
        " Timeout",
        "Timeout =",
        "Time out=5",
        "Timeouts=5",
        "Timeou",
        "SocketHandle=1",
        "SocketHandle[0]=1",
        "  SocketHandle  =  ",
        "BuildInfo=1",
        "UseICMP DLL=1",
        "LastErrorCode",
        "Active=1",
        "[1]",
        "\"Timeout\"=5",
    };
    Ping ping;
    for (const char* setting : rows) {
        Engine().SetLastErrorAndCode(ping.handle(), 55, "an earlier error");
        const Answered a = RawConfig(ping, setting);
        EXPECT_EQ(a.rc, -1) << "[" << setting << "]";
        ASSERT_NE(a.answer, nullptr) << "[" << setting << "]";
        EXPECT_STREQ(a.answer, "") << "[" << setting << "]";
        EXPECT_EQ(ping.LastError(), kUnknown) << "[" << setting << "]";
        EXPECT_EQ(ping.LastErrorCode(), -1) << "[" << setting << "]";
    }
    // Nothing was changed on the way.
    EXPECT_EQ(Query(ping, "Timeout"), "60");
    EXPECT_EQ(Query(ping, "SocketHandle"), "-1");
}

TEST(Config, QueryOnlySettings) {
    struct Row {
        const char* setting;
        int32_t rc;
        const char* query;
        const char* answer;
    };
    const Row rows[] = {
        {"SocketHandle=5", -1, "SocketHandle", "-1"},
        {"WinsockStatus=5", 0, "WinsockStatus", "0"},
        {"WinsockVersion=1.1", 0, "WinsockVersion", "2.2"},
        {"WinsockVersion=", 0, "WinsockVersion", "2.2"},
        {"LastError=some text", 0, "LastError", ""},
    };
    for (const Row& row : rows) {
        Ping ping;
        const Answered a = RawConfig(ping, row.setting);
        EXPECT_EQ(a.rc, row.rc) << row.setting;
        ASSERT_NE(a.answer, nullptr) << row.setting;
        EXPECT_STREQ(a.answer, "") << row.setting;
        EXPECT_EQ(ping.LastError(), row.rc == 0 ? "" : kUnknown) << row.setting;
        EXPECT_EQ(Query(ping, row.query), row.answer) << row.setting;
    }
}

TEST(Config, TimeoutInMillisecondsChangesTheUnit) {
    Ping ping;
    struct Step {
        const char* setting;  // Config string, or null for the Timeout property
        intptr_t property;
        const char* timeout;
        intptr_t timeoutProperty;
        const char* unitAnswer;
    };
    const Step steps[] = {
        {"TimeoutInMilliseconds=true", 0, "60", 60, "1"},
        {"TimeoutInMilliseconds=1", 0, "60", 60, "1"},
        {"Timeout=2500", 0, "2500", 2500, "1"},
        {"TimeoutInMilliseconds=false", 0, "2500", 2500, "0"},
        {"Timeout=5000000", 0, "2147483", 2147483, "0"},
        {"TimeoutInMilliseconds=yes", 0, "2147483", 2147483, "1"},
        {"Timeout=3000000", 0, "2147483", 2147483, "1"},
        {nullptr, 750, "750", 750, "1"},
        {"TimeoutInMilliseconds=no", 0, "750", 750, "0"},
        {"Timeout=-5", 0, "-5", -5, "0"},
        {"TimeoutInMilliseconds=1", 0, "-5", -5, "1"},
        // the helper-library switch sets 60 in whatever unit is current
        {"Timeout=5", 0, "5", 5, "1"},
        {"UseICMPDLL=yes", 0, "60", 60, "1"},
        {"TimeoutInMilliseconds=0", 0, "60", 60, "0"},
        {"Timeout=5", 0, "5", 5, "0"},
        {"UseIPHLPDLL=TRUE", 0, "60", 60, "0"},
        {"Timeout=5", 0, "5", 5, "0"},
        {"UseICMPDLL=on", 0, "5", 5, "0"},
        {"UseIPHLPDLL=0", 0, "5", 5, "0"},
    };
    for (const Step& step : steps) {
        const std::string what = step.setting != nullptr ? step.setting : "Timeout property";
        if (step.setting != nullptr) {
            Apply(ping, step.setting);
        } else {
            ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, step.property), 0);
        }
        EXPECT_EQ(Query(ping, "Timeout"), step.timeout) << what;
        EXPECT_EQ(ping.Get(CORVANE_PING_TIMEOUT), step.timeoutProperty) << what;
        EXPECT_EQ(Query(ping, "TimeoutInMilliseconds"), step.unitAnswer) << what;
    }
    EXPECT_EQ(Query(ping, "UseICMPDLL"), "False");
    EXPECT_EQ(Query(ping, "UseIPHLPDLL"), "False");
}

TEST(Config, HelperLibrarySwitchesSetTheTimeout) {
    struct Row {
        const char* setting;
        bool millis;
        const char* flagName;
        const char* flag;
        const char* timeout;
    };
    const Row rows[] = {
        {"UseICMPDLL=yes", false, "UseICMPDLL", "True", "60"},
        {"UseICMPDLL=yes", true, "UseICMPDLL", "True", "60"},
        {"UseICMPDLL=1", false, "UseICMPDLL", "True", "60"},
        {"UseICMPDLL=on", false, "UseICMPDLL", "False", "5"},
        {"UseICMPDLL=false", true, "UseICMPDLL", "False", "5"},
        {"UseIPHLPDLL=TRUE", false, "UseIPHLPDLL", "True", "60"},
        {"UseIPHLPDLL=true", true, "UseIPHLPDLL", "True", "60"},
        {"UseIPHLPDLL=on", false, "UseIPHLPDLL", "False", "5"},
    };
    for (const Row& row : rows) {
        Ping ping;
        if (row.millis) Apply(ping, "TimeoutInMilliseconds=1");
        Apply(ping, "Timeout=5");
        Apply(ping, row.setting);
        EXPECT_EQ(Query(ping, row.flagName), row.flag) << row.setting;
        EXPECT_EQ(Query(ping, "Timeout"), row.timeout) << row.setting;
        EXPECT_EQ(Query(ping, "TimeoutInMilliseconds"), row.millis ? "1" : "0") << row.setting;
    }
}

TEST(Config, MaxPacketSizeLimits) {
    struct Row {
        const char* value;
        const char* answer;
    };
    const Row rows[] = {
        {"100000", "65536"},     {"65537", "65536"}, {"65536", "65536"}, {"0x10000", "65536"},
        {"65535", "65535"},      {"-1", "65536"},    {"-100", "65536"},  {"4294967295", "65536"},
        {"0x80000000", "65536"}, {"100", "100"},     {"80", "80"},       {"0", "0"},
    };
    for (const Row& row : rows) {
        for (const char* name : {"MaxPacketSize", "MaxMessageSize"}) {
            Ping ping;
            const std::string setting = std::string(name) + "=" + row.value;
            Apply(ping, setting);
            EXPECT_EQ(Query(ping, "MaxPacketSize"), row.answer) << setting;
            EXPECT_EQ(Query(ping, "MaxMessageSize"), row.answer) << setting;
        }
    }
}

TEST(Config, SecurityProtocolsImplyTheInternalSecurityApi) {
    Ping ping;
    struct Step {
        const char* setting;
        const char* internalApi;
    };
    const Step steps[] = {
        {"SSLEnabledProtocols=12288", "True"},     {"SSLEnabledProtocols=4032", "False"},
        {"SSLEnabledProtocols=8192", "False"},     {"SSLEnabledProtocols=4096", "False"},
        {"SSLEnabledProtocols=16320", "True"},     {"SSLEnabledProtocols=0", "False"},
        {"SSLEnabledProtocols=0x3000", "True"},    {"SSLEnabledProtocols=-1", "True"},
        {"SSLEnabledProtocols=4032", "False"},     {"UseInternalSecurityAPI=true", "True"},
        {"SSLEnabledProtocols=12288", "True"},     {"SSLEnabledProtocols=4032", "True"},
        {"UseInternalSecurityAPI=false", "False"},
    };
    for (const Step& step : steps) {
        Apply(ping, step.setting);
        EXPECT_EQ(Query(ping, "UseInternalSecurityAPI"), step.internalApi) << step.setting;
    }
    EXPECT_EQ(Query(ping, "SSLEnabledProtocols"), "4032");
}

TEST(Config, TrafficTypeNamesAndNumbers) {
    struct Row {
        const char* value;
        const char* answer;
    };
    const Row rows[] = {
        {"BestEffort", "0"},  {"background", "1"}, {"EXCELLENTEFFORT", "2"},
        {"AudioVideo", "3"},  {"voice", "4"},      {"CoNtRoL", "5"},
        {"\"Voice\"", "4"},   {" Control ", "5"},  {"7", "7"},
        {"0x10", "16"},       {"-3", "-3"},        {"Voices", "0"},
        {"Best Effort", "0"}, {"", "0"},
    };
    for (const Row& row : rows) {
        Ping ping;
        Apply(ping, "QOSTrafficType=9");
        const std::string setting = std::string("QOSTrafficType=") + row.value;
        Apply(ping, setting);
        EXPECT_EQ(Query(ping, "QOSTrafficType"), row.answer) << setting;
    }
}

TEST(Config, UseIPv6ModeTwoOrBoolean) {
    // In mode 2 each LocalHost write chooses the family, and an IPv4 literal chooses IPv4;
    // in mode 1 the family stays IPv6.
    struct Row {
        const char* value;
        const char* answer;
        const char* afterIpv4LocalHost;
    };
    const Row rows[] = {
        {"2", "True", "False"},   {" 2 ", "True", "False"},    {"\"2\"", "True", "False"},
        {"1", "True", "True"},    {"true", "True", "True"},    {"YES", "True", "True"},
        {"0", "False", "False"},  {"false", "False", "False"}, {"on", "False", "False"},
        {"02", "False", "False"}, {"2.0", "False", "False"},   {"", "False", "False"},
    };
    for (const Row& row : rows) {
        Ping ping;
        const std::string setting = std::string("UseIPv6=") + row.value;
        Apply(ping, setting);
        EXPECT_EQ(Query(ping, "UseIPv6"), row.answer) << setting;
        ping.SetText(CORVANE_PING_LOCAL_HOST, "127.0.0.1");
        EXPECT_EQ(Query(ping, "UseIPv6"), row.afterIpv4LocalHost) << setting;
    }
}

TEST(Config, ZeroMemoryIsProcessWide) {
    struct Restore {
        ~Restore() {
            Ping ping;
            ping.Config("ZeroMemory=False");
        }
    } restore;
    Ping first;
    Ping second;
    Apply(first, "ZeroMemory=true");
    EXPECT_EQ(Query(first, "ZeroMemory"), "True");
    EXPECT_EQ(Query(second, "ZeroMemory"), "True");
    {
        // Objects made later see it too, and their texts are wiped on the way out.
        Ping third;
        EXPECT_EQ(Query(third, "zeromemory"), "True");
        Apply(third, "SSLProvider=" + std::string(300, 'k'));
    }
    Apply(second, "ZeroMemory=no");
    EXPECT_EQ(Query(first, "ZeroMemory"), "False");
    EXPECT_EQ(Query(second, "ZeroMemory"), "False");
}

TEST(Config, CodePageQueryInAnyCase) {
    Ping ping;
    const Answered a = RawConfig(ping, "CodePage=65001");
    EXPECT_EQ(a.rc, 0);
    ASSERT_NE(a.answer, nullptr);
    EXPECT_STREQ(a.answer, "");
    for (const char* name : {"CodePage", "codepage", "CODEPAGE", "cODEpAGE"}) {
        EXPECT_EQ(Query(ping, name), "65001") << name;
    }
    EXPECT_EQ(ping.Get(CORVANE_PING_CODE_PAGE_ID), 65001);
}

TEST(Config, LastErrorQueryGivesTheCurrentText) {
    struct Row {
        const char* what;
        int32_t code;
        const char* text;     // set through SetLastErrorAndCode, unless failing is set
        const char* failing;  // a Config string that fails first
        const char* expected;
    };
    const std::string longText(250, 'e');
    const Row rows[] = {
        {"host-set text", 12, "custom text", nullptr, "custom text"},
        {"long text", 3, longText.c_str(), nullptr, longText.c_str()},
        {"cleared text", 0, nullptr, nullptr, ""},
        {"after an unknown setting", 0, nullptr, "Bogus=1", kUnknown},
    };
    for (const Row& row : rows) {
        Ping ping;
        if (row.failing != nullptr) {
            EXPECT_EQ(ping.Config(row.failing), -1) << row.what;
        } else {
            Engine().SetLastErrorAndCode(ping.handle(), row.code, row.text);
        }
        for (const char* name : {"LastError", "lasterror"}) {
            EXPECT_EQ(Query(ping, name), row.expected) << row.what;
        }
        // The query itself leaves the text as it was.
        EXPECT_EQ(ping.LastError(), row.expected) << row.what;
    }
}

TEST(Config, WhichSettingsClearTheLastError) {
    struct Row {
        const char* setting;
        bool clears;
    };
    const Row rows[] = {
        {"MaxPacketSize=1024", true},
        {"MaxMessageSize=1024", true},
        {"InBufferSize=4096", true},
        {"OutBufferSize=4096", true},
        {"QOSFlags", true},
        {"MaxPacketSize=100000", true},
        {"QOSFlags=3", false},
        {"MaxPacketSize", false},
        {"MaxMessageSize", false},
        {"InBufferSize", false},
        {"OutBufferSize", false},
        {"Timeout=5", false},
        {"Timeout", false},
        {"UseConnection=true", false},
        {"UseICMPDLL=1", false},
        {"MulticastTTL=3", false},
        {"ReceiveAll=1", false},
        {"SocketHandle", false},
        {"SelectWaitMillis=10", false},
        {"TimeoutInMilliseconds=1", false},
        {"UseIPv6=0", false},
        {"WinsockStatus=1", false},
        {"SSLProvider=x", false},
        {"UseInternalSecurityAPI", false},
        {"CodePage=65001", false},
        {"CodePage", false},
        {"LogDebugFile=x", false},
        {"LastError=x", false},
        {"ZeroMemory", false},
    };
    for (const Row& row : rows) {
        Ping ping;
        Engine().SetLastErrorAndCode(ping.handle(), 55, "an earlier error");
        EXPECT_EQ(ping.Config(row.setting), 0) << row.setting;
        EXPECT_EQ(ping.LastError(), row.clears ? "" : "an earlier error") << row.setting;
        EXPECT_EQ(ping.LastErrorCode(), 0) << row.setting;
    }
}

TEST(Config, ResetRestoresPortAndSocketSettings) {
    Ping ping;
    // Change every setting of the port and socket tables away from its initial answer.
    const char* changes[] = {
        "UseICMPDLL=1",
        "UseIPHLPDLL=1",
        "TimeoutInMilliseconds=1",
        "Timeout=77",
        "UseConnection=0",
        "MaxPacketSize=300",
        "QOSFlags=4",
        "InBufferSize=1",
        "OutBufferSize=2",
        "DontFragment=1",
        "MulticastTTL=9",
        "ReceiveAllMode=5",
        "SelectWaitMillis=3",
        "AbsoluteTimeout=1",
        "IgnoreExternalEvents=1",
        "IgnoreOtherWindowEvents=1",
        "QOSTrafficType=Voice",
        "QOSDSCPValue=8",
        "UseWindowsMessages=0",
        "UseIPv6=2",
        "UseGetAddrInfo=0",
        "SSLProvider=other",
        "SSLCipherStrength=1",
        "UseDefaultCredentials=1",
        "ReuseSSLSession=1",
        "ExtendedProtection=1",
        "SSLEnabledCipherSuites=x",
        "SSLSecurityFlags=1",
        "SSLIncludeCertChain=1",
        "SSLEnabledProtocols=12288",
        "SSLEnableRenegotiation=0",
        "KerberosSPN=k",
        "UseSystemSSPI=1",
        "RecordToFile=f",
        "RecordToString=on",
        "UseInternalSecurityAPI=1",
        "CharsetMode=7",
    };
    for (const char* change : changes)
        Apply(ping, change);
    ASSERT_EQ(ping.Do(CORVANE_PING_RESET), 0);
    for (const Initial& row : kInitialAnswers) {
        if (row.root && std::string(row.name) != "CharsetMode") continue;
        EXPECT_EQ(Query(ping, row.name), row.timeout ? "0" : row.answer) << row.name;
    }
}

TEST(Config, Utf16Form) {
    struct Row {
        const char* prepare;  // byte-form Config run first, or null
        const char16_t* setting;
        int32_t rc;
        const char16_t* query;
        const char16_t* answer;
        const char* byteAnswer;  // the same query in the byte form
    };
    const Row rows[] = {
        {nullptr, u"CodePage=65001", 0, u"codepage", u"65001", "65001"},
        {nullptr, u"Timeout=5", 0, u"TIMEOUT", u"5", "5"},
        {"CodePage=65001", u"SSLProvider=Grüße 工具", 0, u"SSLProvider", u"Grüße 工具",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE5\xB7\xA5\xE5\x85\xB7"},
        {"CodePage=1252", u"KerberosSPN=café €", 0, u"KerberosSPN", u"café €", "caf\xE9 \x80"},
        {nullptr, u"  DontFragment = \"yes\" ", 0, u"DontFragment", u"True", "True"},
        {nullptr, u"KerberosSPN=", 0, u"KerberosSPN", u"", ""},
        {nullptr, u"UseICMPDLL=on", 0, u"ReceiveAll", u"false", "false"},
    };
    for (const Row& row : rows) {
        Ping ping;
        if (row.prepare != nullptr) Apply(ping, row.prepare);
        std::u16string answer = u"unchanged";
        EXPECT_EQ(ping.ConfigWide(row.setting, &answer), row.rc) << test::Utf8(row.setting);
        EXPECT_EQ(answer, u"") << test::Utf8(row.setting);
        EXPECT_EQ(ping.ConfigWide(row.query, &answer), 0) << test::Utf8(row.query);
        EXPECT_EQ(answer, row.answer) << test::Utf8(row.query);
        std::string bytes;
        EXPECT_EQ(ping.Config(test::Utf8(row.query).c_str(), &bytes), 0);
        EXPECT_EQ(bytes, row.byteAnswer) << test::Utf8(row.query);
    }
}

TEST(Config, Utf16FormAnswersPointToText) {
    Ping ping;
    struct Row {
        const char16_t* setting;
        int32_t rc;
        const char16_t* answer;
    };
    const Row rows[] = {
        {u"Timeout=5", 0, u""},
        {u"Timeout", 0, u"5"},
        {u"KerberosSPN", 0, u""},
        {u"BuildInfo", 0, u"20.0.7525"},
    };
    for (const Row& row : rows) {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(row.setting), 0};
        int32_t lengths[2] = {};
        const int32_t rc = Engine().Do(ping.handle(), CORVANE_PING_CONFIG + CORVANE_WIDE_ID_OFFSET,
                                       1, slots, lengths, 0);
        EXPECT_EQ(rc, row.rc) << test::Utf8(row.setting);
        const char16_t* text = SlotPointer<char16_t>(slots[1]);
        ASSERT_NE(text, nullptr) << test::Utf8(row.setting);
        EXPECT_EQ(std::u16string(text), row.answer) << test::Utf8(row.setting);
    }

    // An unknown name fails the same way in both forms.
    std::u16string answer;
    EXPECT_EQ(ping.ConfigWide(u"Bogus", &answer), -1);
    EXPECT_EQ(answer, u"");
    EXPECT_EQ(ping.LastError(), kUnknown);
}

TEST(Config, Utf16FormNeedsAUsableCodePage) {
    Ping ping;
    Apply(ping, "CodePage=12345");
    std::u16string answer;
    EXPECT_EQ(ping.ConfigWide(u"CodePage=0", &answer), 87);
    EXPECT_EQ(ping.LastErrorCode(), 87);
    EXPECT_EQ(ping.LastError().rfind("[87] ", 0), 0u) << ping.LastError();
    EXPECT_EQ(Query(ping, "CodePage"), "12345");
    // The byte form still reaches the setting.
    Apply(ping, "CodePage=0");
    EXPECT_EQ(ping.ConfigWide(u"CodePage", &answer), 0);
    EXPECT_EQ(answer, u"0");
}

}  // namespace
