// UTF-16LE bytes of the message file to the lines the message-of-the-day memo shows.
#include "launcher/motdText.h"

QString messageFromBytes(const std::string& bytes) {
    QString text;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
        if (unit == 0) break;
        text.append(QChar(unit));
    }
    return text;
}

QString asMemoLines(QString text) {
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    if (text.endsWith('\n')) text.chop(1);
    return text;
}
