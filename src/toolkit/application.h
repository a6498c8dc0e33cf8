#pragma once

#include "form.h"
#include "text.h"

#include <QApplication>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

// What the program is called and the picture its windows carry. Every
// program built with the toolkit links one in, as it would a resource file.
struct TProgramResource
{
    const char *name;        // how Qt and the desktop know the program
    const char *desktopId;   // its desktop entry, without ".desktop"
    const char *const *icon; // XPM: read without a search for image plugins
};
extern const TProgramResource ProgramResource;

class TApplication
{
public:
    using MessageBox = std::function<void(const QString &text)>;

    TApplication() = default;
    TApplication(const TApplication &) = delete;
    TApplication &operator=(const TApplication &) = delete;
    ~TApplication();

    void Initialize();

    template <class T>
    void CreateForm(T *&reference)
    {
        auto form = MakeForm<T>();
        reference = form.get();
        Adopt(std::move(form));
    }

    // Runs the message loop until the main window closes, then releases the
    // windows and the toolkit. A session that ends meanwhile closes the
    // windows as their close buttons do.
    void Run();
    void Finalize();

    void ShowException(const Exception *exception);

    // Where exception messages go; a message box unless replaced.
    void SetMessageBox(MessageBox messageBox);

private:
    void Adopt(std::unique_ptr<QWidget> form);
    void EndSession();

    std::unique_ptr<QApplication> qt_;
    std::vector<std::unique_ptr<QWidget>> forms_;
    MessageBox messageBox_;
    bool boxShowing_ = false;
};

extern TApplication *const Application;
