#include "Unit1.h"

#include "frame.h"
#include "hex_codec.h"

#include <cstdint>
#include <optional>
#include <string_view>

TForm1 *Form1 = nullptr;

static std::int32_t WorkSeconds = 0;

TForm1::TForm1(QWidget *Owner) : TForm(Owner) {}

void TForm1::FormCreate()
{
    Button2->SetEnabled(false);

    char buffer[4];
    std::int32_t value = 31111;
    EncodeHex4(value, buffer);
    value = DecodeHex4(buffer);
    Label4->SetText(IntToStr(value));
}

void TForm1::Timer1Timer()
{
    ++WorkSeconds;
    Label3->SetText(IntToStr(WorkSeconds));
}

void TForm1::Button1Click()
{
    if (Button1->GetText() == "Open Ports") {
        // A side that is already open is left alone, so a retry after a
        // failure touches only the port that failed.
        if (!CommPort1->GetOpen()) {
            CommPort1->SetComNumber(CSpinEdit1->GetValue());
            CSpinEdit1->SetEnabled(false);
            CommPort1->SetOpen(true);
            Label1->SetVisible(false);
            if (!CommPort1->GetOpen()) {
                Label1->SetText("The port can not open");
                Label1->SetVisible(true);
            }
        }
        if (!CommPort2->GetOpen()) {
            CommPort2->SetComNumber(CSpinEdit2->GetValue());
            CSpinEdit2->SetEnabled(false);
            CommPort2->SetOpen(true);
            Label2->SetVisible(false);
            if (!CommPort2->GetOpen()) {
                Label2->SetText("The port can not open");
                Label2->SetVisible(true);
            }
        }
    } else {
        Button1->SetText("Open Ports");
        CSpinEdit1->SetEnabled(true);
        CSpinEdit2->SetEnabled(true);
        CommPort1->SetOpen(false);
        CommPort2->SetOpen(false);
        Button2->SetEnabled(false);
    }
    if (CommPort1->GetOpen() && CommPort2->GetOpen()) {
        Button1->SetText("Close Ports");
        Button2->SetEnabled(true);
    }
}

// A port that closes on its own (its adapter pulled out, its cable gone)
// leaves the pair as if that side had just failed to open: its label says
// so, Measure waits, and "Open Ports" tries that side again with the same
// number. A closed side of an open or incomplete pair can only be the one
// that was lost or one already reported.
void TForm1::CommPortLost()
{
    if (!CommPort1->GetOpen()) {
        Label1->SetText("The port can not open");
        Label1->SetVisible(true);
    }
    if (!CommPort2->GetOpen()) {
        Label2->SetText("The port can not open");
        Label2->SetVisible(true);
    }
    Button1->SetText("Open Ports");
    Button2->SetEnabled(false);
}

void TForm1::FormClose()
{
    if (CommPort1->GetOpen())
        CommPort1->SetOpen(false);
    if (CommPort2->GetOpen())
        CommPort2->SetOpen(false);
}

void TForm1::Button2Click()
{
    PutFrame(*CommPort2, TData->GetValue());
}

// Every frame of a burst arrives before the window can be painted again,
// so only the last one's value is ever seen: it is the one set.
void TForm1::CommPort1DataReceived()
{
    std::optional<std::int32_t> last;
    TakeFrames(*CommPort1, [&last](std::int32_t value, std::string_view) { last = value; });
    if (last)
        RData->SetText(IntToStr(*last));
}
