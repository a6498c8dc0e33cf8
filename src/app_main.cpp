#include "Unit1.h"

int main(int, char **)
{
    try {
        Application->Initialize();
        Application->CreateForm(Form1);
        Application->Run();
    } catch (const Exception &exception) {
        Application->ShowException(&exception);
    } catch (...) {
        try {
            throw Exception("");
        } catch (const Exception &exception) {
            Application->ShowException(&exception);
        }
    }
    return 0;
}
