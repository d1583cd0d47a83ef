// EMV tag and status-word dictionaries for log lines.
//
// The EMV tags 42 .. 9F4F are listed once below and expand into both the
// bilingual LIST_TAGS and the English-only LIST_TAGS_EN, so the English
// names cannot drift apart between the two tables. LIST_TAGS descriptions
// read "<TAG>\t<Chinese name><English name>"; LIST_TAGS_EN holds the English
// name alone. Keys are written in the case the tables have always used;
// get_value compares them without regard to case.
#include "tlv.h"

#include <iterator>

// ROW(key, upper-case tag, Chinese name, English name)
// PLAIN(key, description): an entry without a Chinese name.
#define VR_EMV_BASE_TAGS(ROW, PLAIN)                                                          \
    ROW("42", "42", "发卡行标识号", "Issuer Identification Number (IIN)")                     \
    ROW("4f", "4F", "应用标识符", "Application Identifier (AID) - card")                      \
    ROW("50", "50", "应用标签", "Application Label")                                          \
    ROW("57", "57", "二磁道等效数据", "Track 2 Equivalent Data")                              \
    ROW("5a", "5A", "应用主账号", "Application Primary Account Number (PAN)")                 \
    ROW("61", "61", "应用模板", "Application Template")                                       \
    ROW("6f", "6F", "FCI模板", "File Control Information (FCI) Template")                     \
    ROW("70", "70", "读记录响应报文模板", "READ RECORD Response Message Template")            \
    ROW("71", "71", "发卡行脚本模板1", "Issuer Script Template 1")                            \
    ROW("72", "72", "发卡行脚本模板2", "Issuer Script Template 2")                            \
    ROW("73", "73", "目录自定义模板", "Directory Discretionary Template")                     \
    ROW("77", "77", "响应报文模板格式2", "Response Message Template Format 2")                \
    ROW("80", "80", "响应报文模板格式1", "Response Message Template Format 1")                \
    ROW("81", "81", "授权金额(二进制)", "Amount, Authorised (Binary)")                        \
    ROW("82", "82", "应用交互特征", "Application Interchange Profile")                        \
    ROW("83", "83", "命令模板", "Command Template")                                           \
    ROW("84", "84", "专用文件名称", "Dedicated File (DF) Name")                               \
    ROW("86", "86", "发卡行脚本命令", "Issuer Script Command")                                \
    ROW("87", "87", "应用优先指示器", "Application Priority Indicator")                       \
    ROW("88", "88", "短文件标识符", "Short File Identifier (SFI)")                            \
    ROW("89", "89", "授权码", "Authorisation Code")                                           \
    ROW("8a", "8A", "授权响应码", "Authorisation Response Code")                              \
    ROW("8c", "8C", "卡片风险管理数据对象列表1", "Card Risk Management Data Object List 1 (CDOL1)") \
    ROW("8d", "8D", "卡片风险管理数据对象列表2", "Card Risk Management Data Object List 2 (CDOL2)") \
    ROW("8e", "8E", "持卡人验证方法列表", "Cardholder Verification Method (CVM) List")        \
    ROW("8f", "8F", "认证中心公钥索引", "Certification Authority Public Key Index")           \
    ROW("90", "90", "发卡行公钥证书", "Issuer Public Key Certificate")                        \
    ROW("91", "91", "发卡行认证数据", "Issuer Authentication Data")                           \
    ROW("92", "92", "发卡行公钥余项", "Issuer Public Key Remainder")                          \
    ROW("93", "93", "签名的静态应用数据", "Signed Static Application Data")                   \
    ROW("94", "94", "应用文件定位器", "Application File Locator (AFL)")                       \
    ROW("95", "95", "终端验证结果", "Terminal Verification Results")                          \
    ROW("97", "97", "交易证书数据对象列表", "Transaction Certificate Data Object List (TDOL)") \
    ROW("98", "98", "交易证书哈希值", "Transaction Certificate (TC) Hash Value")              \
    ROW("99", "99", "交易个人识别码数据", "Transaction Personal Identification Number (PIN) Data") \
    ROW("9a", "9A", "交易日期", "Transaction Date")                                           \
    ROW("9b", "9B", "交易状态信息", "Transaction Status Information")                         \
    ROW("9c", "9C", "交易类型", "Transaction Type")                                           \
    ROW("9d", "9D", "目录定义文件名称", "Directory Definition File (DDF) Name")               \
    ROW("a5", "A5", "FCI专用模板", "File Control Information (FCI) Proprietary Template")     \
    ROW("e0", "E0", "专有模板", "Proprietary Constructed Data Object")                        \
    ROW("e1", "E1", "专有模板", "Proprietary Constructed Data Object")                        \
    ROW("e2", "E2", "专有模板", "Proprietary Constructed Data Object")                        \
    ROW("e3", "E3", "专有模板", "Proprietary Constructed Data Object")                        \
    ROW("c2", "C2", "专有数据", "Proprietary Data Object")                                    \
    PLAIN("5f20", "Cardholder Name")                                                          \
    ROW("5f24", "5F24", "应用失效日期", "Application Expiration Date")                        \
    ROW("5f25", "5F25", "应用生效日期", "Application Effective Date")                         \
    ROW("5f28", "5F28", "发卡行国家代码", "Issuer Country Code")                              \
    ROW("5f2a", "5F2A", "交易货币代码", "Transaction Currency Code")                          \
    ROW("5f2d", "5F2D", "首选语言", "Language Preference")                                    \
    ROW("5f30", "5F30", "服务码", "Service Code")                                             \
    ROW("5f34", "5F34", "应用主账号序列号", "Application Primary Account Number (PAN) Sequence Number") \
    ROW("5f36", "5F36", "交易货币指数", "Transaction Currency Exponent")                      \
    ROW("5f50", "5F50", "发卡行URL", "Issuer URL")                                            \
    ROW("5f53", "5F53", "国际银行账号", "International Bank Account Number (IBAN)")           \
    ROW("5f54", "5F54", "银行标识码", "Bank Identifier Code (BIC)")                           \
    ROW("5f55", "5F55", "发卡行国家代码(alpha2格式)", "Issuer Country Code (alpha2 format)")  \
    ROW("5f56", "5F56", "发卡行国家代码(alpha3格式)", "Issuer Country Code (alpha3 format)")  \
    ROW("5f57", "5F57", "账户类型", "Account Type")                                           \
    ROW("9f01", "9F01", "收单行标识", "Acquirer Identifier")                                  \
    ROW("9f02", "9F02", "授权金额", "Amount, Authorised (Numeric)")                           \
    ROW("9f03", "9F03", "其它金额", "Amount, Other (Numeric)")                                \
    ROW("9f04", "9F04", "其它金额(二进制)", "Amount, Other (Binary)")                         \
    ROW("9f05", "9F05", "应用自定义数据", "Application Discretionary Data")                   \
    ROW("9f06", "9F06", "应用标识符(终端)", "Application Identifier (AID) - terminal")        \
    ROW("9f07", "9F07", "应用用途控制", "Application Usage Control")                          \
    ROW("9f08", "9F08", "应用版本号(卡片)", "Application Version Number (card)")              \
    ROW("9f09", "9F09", "应用版本号(终端)", "Application Version Number (terminal)")          \
    ROW("9f0b", "9F0B", "持卡人姓名扩展", "Cardholder Name Extended")                         \
    ROW("9f0d", "9F0D", "发卡行行为代码-缺省", "Issuer Action Code - Default")                \
    ROW("9f0e", "9F0E", "发卡行行为代码-拒绝", "Issuer Action Code - Denial")                 \
    ROW("9f0f", "9F0F", "发卡行行为代码-联机", "Issuer Action Code - Online")                 \
    ROW("9f10", "9F10", "发卡行应用数据", "Issuer Application Data")                          \
    ROW("9f11", "9F11", "发卡行代码表索引", "Issuer Code Table Index")                        \
    ROW("9f12", "9F12", "应用首选名称", "Application Preferred Name")                         \
    ROW("9f13", "9F13", "上次联机应用交易计数器寄存器", "Last Online Application Transaction Counter (ATC) Register") \
    ROW("9f14", "9F14", "连续脱机交易下限", "Lower Consecutive Offline Limit")                \
    ROW("9f15", "9F15", "商户分类码", "Merchant Category Code")                               \
    ROW("9f16", "9F16", "商户标识", "Merchant Identifier")                                    \
    ROW("9f17", "9F17", "PIN尝试计数器", "Personal Identification Number (PIN) Try Counter")  \
    ROW("9f18", "9F18", "发卡行脚本标识", "Issuer Script Identifier")                         \
    ROW("9f1a", "9F1A", "终端国家代码", "Terminal Country Code")                              \
    ROW("9f1b", "9F1B", "终端最低限额", "Terminal Floor Limit")                               \
    ROW("9f1c", "9F1C", "终端标识", "Terminal Identification")                                \
    ROW("9f1d", "9F1D", "终端风险管理数据", "Terminal Risk Management Data")                  \
    ROW("9f1e", "9F1E", "接口设备序列号", "Interface Device (IFD) Serial Number")             \
    ROW("9f1f", "9F1F", "磁条1自定义数据", "Track 1 Discretionary Data")                      \
    ROW("9f20", "9F20", "磁条2自定义数据", "Track 2 Discretionary Data")                      \
    ROW("9f21", "9F21", "交易时间", "Transaction Time")                                       \
    ROW("9f22", "9F22", "认证中心公钥索引(终端)", "Certification Authority Public Key Index (terminal)") \
    ROW("9f23", "9F23", "连续脱机交易上限", "Upper Consecutive Offline Limit")                \
    ROW("9f26", "9F26", "应用密文", "Application Cryptogram")                                 \
    ROW("9f27", "9F27", "密文信息数据", "Cryptogram Information Data")                        \
    ROW("9f2d", "9F2D", "IC卡PIN加密公钥证书", "ICC PIN Encipherment Public Key Certificate") \
    ROW("9f2e", "9F2E", "IC卡PIN加密公钥指数", "ICC PIN Encipherment Public Key Exponent")    \
    ROW("9f2f", "9F2F", "IC卡PIN加密公钥余项", "ICC PIN Encipherment Public Key Remainder")   \
    ROW("9f32", "9F32", "发卡行公钥指数", "Issuer Public Key Exponent")                       \
    ROW("9f33", "9F33", "终端性能", "Terminal Capabilities")                                  \
    ROW("9f34", "9F34", "持卡人验证方法结果", "Cardholder Verification Method (CVM) Results") \
    ROW("9f35", "9F35", "终端类型", "Terminal Type")                                          \
    ROW("9f36", "9F36", "应用交易计数器", "Application Transaction Counter (ATC)")            \
    ROW("9f37", "9F37", "不可预知数", "Unpredictable Number")                                 \
    ROW("9f38", "9F38", "处理选项数据对象列表", "Processing Options Data Object List (PDOL)") \
    ROW("9f39", "9F39", "销售点输入方式", "Point-of-Service (POS) Entry Mode")                \
    ROW("9f3a", "9F3A", "参考货币金额", "Amount, Reference Currency")                         \
    ROW("9f3b", "9F3B", "应用参考货币", "Application Reference Currency")                     \
    ROW("9f3c", "9F3C", "交易参考货币代码", "Transaction Reference Currency Code")            \
    ROW("9f3d", "9F3D", "交易参考货币指数", "Transaction Reference Currency Exponent")        \
    ROW("9f40", "9F40", "附加终端性能", "Additional Terminal Capabilities")                   \
    ROW("9f41", "9F41", "交易序列计数器", "Transaction Sequence Counter")                     \
    ROW("9f42", "9F42", "应用货币代码", "Application Currency Code")                          \
    ROW("9f43", "9F43", "应用参考货币指数", "Application Reference Currency Exponent")        \
    ROW("9f44", "9F44", "应用货币指数", "Application Currency Exponent")                      \
    ROW("9f45", "9F45", "数据认证码", "Data Authentication Code")                             \
    ROW("9f46", "9F46", "IC卡公钥证书", "ICC Public Key Certificate")                         \
    ROW("9f47", "9F47", "IC卡公钥指数", "ICC Public Key Exponent")                            \
    ROW("9f48", "9F48", "IC卡公钥余项", "ICC Public Key Remainder")                           \
    ROW("9f49", "9F49", "动态数据认证数据对象列表", "Dynamic Data Authentication Data Object List (DDOL)") \
    ROW("9f4a", "9F4A", "静态数据认证标签列表", "Static Data Authentication Tag List")        \
    ROW("9f4b", "9F4B", "签名的动态应用数据", "Signed Dynamic Application Data")              \
    ROW("9f4c", "9F4C", "IC卡动态数", "ICC Dynamic Number")                                   \
    ROW("9f4d", "9F4D", "日志入口", "Log Entry")                                              \
    ROW("9f4e", "9F4E", "商户名称和位置", "Merchant Name and Location")                       \
    ROW("9f4f", "9F4F", "日志格式", "Log Format")

// Terminal parameter tags of the payment application; English names only.
#define VR_EMV_TERMINAL_TAGS(PLAIN)                                                           \
    PLAIN("df01", "Application Selection Indicator (ASI)")                                    \
    PLAIN("df02", "Certification Authority Public Key Modulus")                               \
    PLAIN("df11", "Terminal Action Code - Default")                                           \
    PLAIN("df12", "Terminal Action Code - Online")                                            \
    PLAIN("df13", "Terminal Action Code - Denial")                                            \
    PLAIN("df14", "Default Dynamic Data Authentication Data Object List (DDOL)")              \
    PLAIN("df15", "Threshold Value for Biased Random Selection")                              \
    PLAIN("df16", "Maximum Target Percentage to be used for Biased Random Selection")         \
    PLAIN("df17", "Target Percentage to be used for Random Selection")                        \
    PLAIN("df18", "Terminal Online PIN Capability")

#define VR_BILINGUAL(key, tag, zh, en) {key, tag "\t" zh en},
#define VR_ENGLISH(key, tag, zh, en) {key, en},
#define VR_PLAIN(key, text) {key, text},

extern "C" {

VR_API extern const tlv_string_pair LIST_TAGS[] = {
    VR_EMV_BASE_TAGS(VR_BILINGUAL, VR_PLAIN)
    // PBOC tags: the tag, a space and the Chinese name.
    {"9F50", "9F50 偏移金额"},
    {"9F51", "9F51 应用货币代码"},
    {"9F52", "9F52 应用缺省行为"},
    {"9F53", "9F53 连续脱机交易限制数(国际-货币)"},
    {"9F54", "9F54 累计脱机交易金额限制数"},
    {"9F56", "9F56 发卡行认证指示位"},
    {"9F57", "9F57 发卡行国家代码"},
    {"9F58", "9F58 连续脱机交易下限"},
    {"9F59", "9F59 连续脱机交易上限"},
    {"9F5A", "9F5A 应用程序标识"},
    {"9F5C", "9F5C 累计脱机交易金额上限"},
    {"9F61", "9F61 持卡人证件号"},
    {"9F62", "9F62 持卡人证件类型"},
    {"9F63", "9F63 卡产品标识信息"},
    {"9F6D", "9F6D 电子现金重置阈值"},
    {"9F72", "9F72 连续脱机交易限制数(国际-国家)"},
    {"9F73", "9F73 货币转换因子"},
    {"9F74", "9F74 电子现金发卡行授权码"},
    {"9F75", "9F75 累计脱机交易金额限制数(双货币)"},
    {"9F76", "9F76 第二应用货币代码"},
    {"9F77", "9F77 电子现金余额上限"},
    {"9F78", "9F78 电子现金单笔交易限额"},
    {"9F79", "9F79 电子现金余额(EC Balance)"},
    {"9F7A", "9F7A 电子现金终端支持指示器"},
    {"9F7B", "9F7B 电子现金终端交易限额"},
    // A second A5 row; lookups stop at the first one above.
    {"A5", "A5 FCI专用模板"},
    {"bf0c", "BF0C\t发卡行自定义数据 FCIFile Control Information (FCI) Issuer Discretionary Data"},
    VR_EMV_TERMINAL_TAGS(VR_PLAIN)
    {"df31", "Issuer Script Results"},
    {"", ""},
};

VR_API extern const tlv_string_pair LIST_TAGS_EN[] = {
    VR_EMV_BASE_TAGS(VR_ENGLISH, VR_PLAIN)
    {"bf0c", "File Control Information (FCI) Issuer Discretionary Data"},
    VR_EMV_TERMINAL_TAGS(VR_PLAIN)
    {"", ""},
};

VR_API extern const tlv_string_pair LIST_STATUS_WORDS[] = {
    {"9000", "Command successful"},
    {"6a83", "Record not found"},
    {"6a81", "Function not supported"},
    {"6985", "Conditions of use not satisfied"},
    {"6a82", "File not found"},
    {"6a86", "Incorrect P1 or P2 parameter"},
    {"", ""},
};

}  // extern "C"

// Entry counts, each plus the end entry.
static_assert(std::size(LIST_TAGS) == 163 + 1);
static_assert(std::size(LIST_TAGS_EN) == 136 + 1);
static_assert(std::size(LIST_STATUS_WORDS) == 6 + 1);
