// Arbitrary bytes against the codec and against the receiver as the program
// runs it: written into the far side of the master's cable, read by the port
// component, searched by CommPort1DataReceived on a real window. What the
// window shows must equal a plain scan of the same bytes, written out here
// from the frame's rules rather than shared with the code under test.

#include "Unit1.h"
#include "hex_codec.h"
#include "virtual_cable.h"

#include <QDeadlineTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

[[noreturn]] void Fail(const char *what, const QString &got, const QString &expected)
{
    std::fprintf(stderr, "fuzz_receiver: %s: got \"%s\", expected \"%s\"\n", what, qPrintable(got),
                 qPrintable(expected));
    std::abort();
}

// A byte's digit value: digits and upper-case letters count, anything else
// lands where the frame's arithmetic puts it, wrapped to a signed byte.
int ReferenceDigit(std::uint8_t byte)
{
    const int ch = std::int8_t(byte);
    const int digit = std::int8_t(ch < 0x3A ? ch - 0x30 : ch - 0x37);
    return digit > 15 ? 0 : digit;
}

int ReferenceDecode(const std::uint8_t *digits)
{
    int value = 0;
    for (int i = 0; i < 4; ++i)
        value = value * 16 + ReferenceDigit(digits[i]);
    return value;
}

// A byte is looked at only while more than four wait, so a "?" always has
// its four digits behind it; the last one taken is what the window shows.
struct Reference
{
    std::optional<int> shown;
    std::size_t waiting = 0;
};

Reference ReferenceScan(const std::uint8_t *data, std::size_t size)
{
    Reference result;
    std::size_t next = 0;
    while (size - next > 4) {
        if (data[next++] != '?')
            continue;
        result.shown = ReferenceDecode(data + next);
        next += 4;
    }
    result.waiting = size - next;
    return result;
}

void CheckCodec(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return;
    const int decoded = DecodeHex4(reinterpret_cast<const char *>(data));
    if (decoded != ReferenceDecode(data))
        Fail("DecodeHex4", QString::number(decoded), QString::number(ReferenceDecode(data)));

    std::int32_t value;
    std::memcpy(&value, data, sizeof value);
    char encoded[4];
    EncodeHex4(value, encoded);
    char printed[9];
    std::snprintf(printed, sizeof printed, "%04X", unsigned(value) & 0xFFFFu);
    if (std::memcmp(encoded, printed, 4) != 0)
        Fail("EncodeHex4", QString::fromLatin1(encoded, 4), QString::fromLatin1(printed));
    if (DecodeHex4(encoded) != (value & 0xFFFF))
        Fail("round trip", QString::number(DecodeHex4(encoded)), QString::number(value & 0xFFFF));
}

// One window on COM3 (master) and COM4 (slave), both open, for the whole
// run: opening per input would test the lock files more than the receiver.
struct Rig
{
    ComLinks links;
    PtyEnd master;
    PtyEnd slave;
    std::unique_ptr<TForm1> form;
    std::size_t delivered = 0;
};

Rig *rig = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();

    for (int byte = 0; byte < 256; ++byte) {
        if (HexCharToNibble(char(byte)) != ReferenceDigit(std::uint8_t(byte)))
            Fail("HexCharToNibble", QString::number(HexCharToNibble(char(byte))),
                 QString::number(ReferenceDigit(std::uint8_t(byte))));
        if (NibbleToHexChar(byte) != "0123456789ABCDEF"[byte & 15])
            Fail("NibbleToHexChar", QString(QChar(NibbleToHexChar(byte))), QString::number(byte & 15));
    }

    rig = new Rig;
    // libFuzzer ends a timed run through exit(): close the ports then, so
    // their lock files go with them.
    std::atexit([] {
        delete rig;
        Application->Finalize();
    });
    rig->links.Map(3, rig->master.Device());
    rig->links.Map(4, rig->slave.Device());
    rig->form = MakeForm<TForm1>();
    rig->form->Button1->click();
    if (!rig->form->CommPort1->GetOpen() || !rig->form->CommPort2->GetOpen())
        Fail("Open Ports", rig->form->Button1->text(), QStringLiteral("Close Ports"));
    // Connected after the layout's handler, so it counts what the handler saw.
    QObject::connect(rig->form->CommPort1, &TCommPort::OnDataReceived,
                     [](int count) { rig->delivered += std::size_t(count); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CheckCodec(data, size);

    TForm1 &form = *rig->form;
    form.RData->setText(QStringLiteral("No data"));
    rig->delivered = 0;
    rig->master.Write(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    // The form's one-second timer wakes the loop even if the port never does.
    const QDeadlineTimer deadline(10000);
    while (rig->delivered < size) {
        if (deadline.hasExpired())
            Fail("bytes read by the port", QString::number(rig->delivered), QString::number(size));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    const Reference expected = ReferenceScan(data, size);
    const QString shown = expected.shown ? QString::number(*expected.shown) : QStringLiteral("No data");
    if (form.RData->text() != shown)
        Fail("RData", form.RData->text(), shown);
    if (form.CommPort1->GetInBuffUsed() != expected.waiting)
        Fail("bytes left waiting", QString::number(form.CommPort1->GetInBuffUsed()),
             QString::number(expected.waiting));
    // The next input starts on an empty line, as after a fresh open.
    while (form.CommPort1->GetInBuffUsed() > 0)
        form.CommPort1->GetChar();
    return 0;
}
