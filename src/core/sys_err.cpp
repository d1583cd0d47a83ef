// Error messages in English and Chinese, and the translation of reader
// status bytes into error codes.
#include <array>
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "sys.h"

namespace {

struct Message {
    int code;
    const char *en;  // null: the platform's strerror text is used
    const char *zh;
};

// The one table of messages; rows in descending code order.
constexpr Message kMessages[] = {
    {0, "success", "执行成功"},
    {-10, "fail to open the port", "打开通信设备失败，请检查系统设置或权限"},
    {-11, "fail to close the port", "关闭通信设备失败，请检查系统设置或权限"},
    {-12, "fail to responde the request", "请求指令执行失败，请重新寻卡"},
    {-13, "fail to send message", "消息发送失败，请检查通信设备或权限"},
    {-14, "fail to receive message", "消息收取失败，请检查通信设备或权限"},
    {-15, "message format is illegal", "消息格式错误，请检查通信设备设置"},
    {-16, "received message is wrong", "消息完整性检查失败，请检查通信设备"},
    {-19, "received message crc check wrong", "消息收取校验失败，请检查通信设备或权限"},
    {-20, "the card type is wrong", "IC卡类型错误，请将正确的IC卡放置感应区"},
    {-21, "genera error", "未知错误"},
    {-22, "not such command", "当前设备不支持该操作,详情请联系技术支持"},
    {-23, "fail to execute command", "执行指令失败，请重新执行"},
    {-24, "the argument is wrong", "指令参数错误，请检查函数参数的合法性"},
    {-30, "fail to find the card", "感应区内没有发现IC卡，请将正确的IC卡放置于感应区"},
    {-31, "the reader ic maybe wrong", "读卡设备故障，请重启设备"},
    {-32, "fail to execute reqa/reqb", "感应区内没有发现IC卡，请将正确的IC卡放置于感应区"},
    {-33, "fail to reset the reader ic", "复位读卡设备失败，请重启设备"},
    {-34, "fail to do the authentication", "密码验证失败，请检查密码"},
    {-35, "fail to read the card", "读卡失败"},
    {-36, "fail to write the card", "写卡失败"},
    {-37, "fail to select the card", "选卡失败"},
    {-38, "something wrong with antenna", "无法启用或关闭天线，请检查读卡设备状态"},
    {-39, "the key type is wrong", "密码类型错误，请选择正确的密码类型"},
    {-40, "fail to allocate memmory", "内存不足"},
    {-47, "have not selected any card for operation", "没有选定任何卡片进行操作，操作前请先寻卡"},
    {-48, "the block donot support the operation", "指定的块不支持当前操作，请选择正确的块"},
    {-49, nullptr, "通信设备尚未打开"},
    {-50, "the level of tone is wrong", "语音信号电平异常"},
    {-51, "picc search mode is wrong", "感应区只有一张卡，寻卡模式错误"},
    {-52, "fail to change the password", "修改密码失败"},
    {-53, "fail to set the start encrypted page", "修改加密起始页失败"},
    {-54, "fail to write the id of device", "设备ID写入失败"},
    {-55, "fail to write the seria number of device", "设备序列号写入失败"},
    {-56, "fail to download the password", "密码下载失败"},
    {-57, "fail to authenticate,please download the password again", "EEPROM密码验证失败，请重新下载密码"},
    {-58, nullptr, "读取EEPROM数据时发生错误"},
    {-72, "fail to  access jack error", "麦克风访问失败"},
    {-73, nullptr, "设备未插入，请重新插入设备"},
    {-74, nullptr, "设备不支持指定属性"},
    {-75, nullptr, "设备不支持指定服务"},
    {-76, nullptr, "设备属性数过多"},
    {-77, nullptr, "设备服务数过多"},
    {-78, nullptr, "设备类型错误，不支持当前设备类型"},
    {-79, nullptr, "设备无法启动"},
    {-80, nullptr, "设备已拔出，操作前请先插入设备"},
    {-81, nullptr, "设备无法连接，请确认设备是否已关机"},
    {-82, nullptr, "无法调节系统音量，请手工调节到最大"},
    {-83, nullptr, "麦克风已被静音，请检查系统设置"},
    {-84, nullptr, "系统重放设备初始化失败"},
    {-85, nullptr, "设备忙，请稍候"},
    {-86, nullptr, "获取系统USB设备管理器失败"},
    {-87, nullptr, "USB设备枚举失败"},
    {-88, nullptr, "USB设备访问失败"},
    {-89, nullptr, "USB设备连接失败"},
    {-90, nullptr, "USB设备接口声明失败"},
    {-91, nullptr, "USB设备端点获取失败"},
    {-92, nullptr, "USB设备写入失败"},
    {-93, nullptr, "USB设备读取失败"},
    {-99, "unknown error", "未知错误"},
    {-100, "the format of file is wrong", "文件格式错误"},
    {-101, "can't find the file", "指定文件不存在"},
    {-102, "the format of record is wrong", "指定记录格式错误"},
    {-103, "the size of file is too big", "文件大小过大"},
    {-104, "address is wrong", "地址错误"},
    {-105, "verify faily", "数据不匹配，校验失败"},
    {-111, nullptr, "消息完整性检查失败，请检查通信设备"},
    {-112, nullptr, "消息收取失败，请检查通信设备或权限"},
    {-113, nullptr, "无效指令"},
    {-114, nullptr, "指令长度错误"},
    {-122, nullptr, "卡号已存在"},
    {-123, nullptr, "卡号不存在"},
    {-124, nullptr, "用户空间已满"},
    {-125, nullptr, "越权操作"},
    {-126, nullptr, "业务终端数据长度错误"},
    {-127, nullptr, "业务终端数据错误"},
    {-128, nullptr, "业务终端指令错误"},
    {-129, nullptr, "身份证外部认证失败"},
    {-130, nullptr, "身份证内部认证失败"},
    {-131, nullptr, "数据校验失败"},
    {-132, nullptr, "指纹数据校验失败"},
    {-133, nullptr, "指纹数据长度错误"},
    {-134, nullptr, "无法确定身份证类型"},
    {-135, nullptr, "读写身份证失败"},
    {-136, nullptr, "获取随机数失败"},
    {-137, nullptr, "SAM自检失败，无法接受指令"},
    {-138, nullptr, "SAM未授权，无法使用"},
    {-139, nullptr, "身份证中无此项内容"},
};

constexpr int kLowestCode = -139;
constexpr const char *kGeneralZh = "通用错误";

constexpr bool rows_in_order() {
    for (std::size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i].code >= kMessages[i - 1].code) return false;
    return kMessages[0].code == 0 &&
           kMessages[std::size(kMessages) - 1].code == kLowestCode;
}
static_assert(rows_in_order(), "message rows must descend from 0 to -139 without repeats");

// Index from -code to the row, built at compile time.
constexpr std::array<const Message *, 1 - kLowestCode> build_index() {
    std::array<const Message *, 1 - kLowestCode> index{};
    for (const Message &m : kMessages) index[static_cast<std::size_t>(-m.code)] = &m;
    return index;
}
constexpr auto kIndex = build_index();

const Message *find(int code) {
    if (code > 0 || code < kLowestCode) return nullptr;
    return kIndex[static_cast<std::size_t>(-code)];
}

}  // namespace

VR_API const char *sys_strerror(void) {
    int code = errno;
    const Message *m = find(code);
    if (m && m->en) return m->en;
    return std::strerror(code);
}

VR_API const char *sys_strerror_ch(int code) {
    const Message *m = find(code);
    return m ? m->zh : kGeneralZh;
}

VR_API int return_code(int status) {
    const int s = static_cast<signed char>(status);
    int code;
    switch (s) {
    case 0x00: errno = 0; return 0;
    case 0x0A: code = -21; break;
    case 0x0B: code = -22; break;
    case 0x0C: code = -24; break;
    case 0x0D: code = -30; break;
    case 0x0E: code = -31; break;
    case 0x14:
    case 0x15: code = -32; break;
    case 0x16: code = -34; break;
    case 0x17: code = -35; break;
    case 0x18: code = -36; break;
    case 0x1E: code = -52; break;
    case 0x1F: code = -53; break;
    case 0x20: code = -54; break;
    case 0x21: code = -55; break;
    case 0x22: code = -56; break;
    case 0x23: code = -57; break;
    case 0x24:
    case 0x25: code = -58; break;
    default:
        // Negative status bytes are the reader's own error codes.
        code = s < 0 ? s : -99;
        break;
    }
    errno = code;
    return -1;
}

VR_API int dc_errno_transform(int status) {
    switch (status) {
    case -215: return -71;
    case -214: return -70;
    case -211: return -69;
    case -194: return -68;
    case -115: return -67;
    case -82: return -66;
    case -81: return -65;
    case -80: return -64;
    case -66: case -64: case -17: case -16: return -14;
    case -65: return -13;
    case -49: case -48: return -15;
    case -36: case -34: case -33: case -32: return -10;
    case -35: return -11;
    case 1: return -30;
    case 2: case 5: case 21: return -16;
    case 3: case 9: case 100: case 124: return -24;
    case 4: case 10: return -34;
    case 6: case 27: return -14;
    case 8: case 24: return -62;
    case 11: case 12: case 18: return -35;
    case 15: case 16: case 17: return -36;
    case 19: return -63;
    case 25: return -38;
    case 26: case 60: return -22;
    default: return -99;
    }
}
