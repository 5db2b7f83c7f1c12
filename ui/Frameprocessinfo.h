#pragma once
// Two pages about the one process (SPID) the containing view has selected: "Threads",
// the process's execution contexts, and "Command", the SQL it runs, fetched from the
// server with DBCC INPUTBUFFER or fn_get_sql(). The containing view hands over the
// SPID on every refresh and selection (ShowProcess).
//
// The SQL text is fetched on the server's command thread; the window never waits. An
// answer that comes back after the user moved on (another process, source or server)
// is not shown. Requests do not pile up behind a slow server: while one is out, later
// reloads collapse into one that is sent when it returns.

#include <QWidget>

#include <cstdint>
#include <string>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class TConnectionSlot;
class TGridModel;
class TGridPair;

class TFrameProcessInfo : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameProcessInfo(QWidget* parent = nullptr);

    // Headings and widths of the thread grids.
    void SetupThreadGrid();
    // The server over whose connection the command text is fetched and whose threads
    // are listed (null: none). The page, the source and the pause box stay.
    void SetConnection(TConnectionSlot* slot);

    // The process to show (0 or less: none): its SPID, the command text when due
    // (RefreshCommandText), and its threads.
    void ShowProcess(std::int32_t spid);
    std::int32_t Spid() const { return FSpid; }

    // On the Command page: reloads the text unless "Pause Auto Refresh" is checked and
    // the process is the one shown last time.
    void RefreshCommandText();
    // Fetches and shows the command text of Spid from the chosen source.
    void LoadCommandText();

    // A request for the command text is out (its answer has not come back yet).
    bool CommandTextLoading() const { return RequestOut; }

    void LabelTabThreadClick();
    void LabelTabCommandClick();
    bool CommandPageShowing() const;

    TGridModel* ThreadGrid() const { return ThreadModel; }
    TGridPair* ThreadGridPair() const { return ThreadPair; }
    QString CommandInfo() const;
    QString CommandText() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TCommandText
    {
        std::string Text;
        std::string Description;
    };

    void BuildTabBar();
    void BuildCommandPage();
    void ShowPage(bool command);
    void SendCommandRequest();

    TConnectionSlot* Slot = nullptr;
    std::int32_t FSpid = 0;
    std::int32_t LastSpid = 0;
    // Answers of an earlier connection are ignored.
    int Generation = 0;
    bool RequestOut = false;
    bool ReloadWanted = false;

    QWidget* PanelProcessInfoTabbar;
    QLabel* LabelTabThread;
    QLabel* LabelTabCommand;
    QLabel* ImageTabUp;
    QLabel* ImageTabRight;
    QStackedWidget* PanelProcessInfoCommand;
    QWidget* PanelThreads;
    QWidget* PanelCommandText;
    TGridModel* ThreadModel;
    TGridPair* ThreadPair;
    QLabel* StaticTextCommandInfo;
    QPlainTextEdit* MemoCommandText;
    QWidget* Panel1;
    QRadioButton* RadioButtonDBCC;
    QPushButton* ButtonCopyCommandText;
    QRadioButton* RadioButton1;
    QCheckBox* CheckBoxPauseRefresh;
};
