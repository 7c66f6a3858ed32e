#pragma once
// The object names of the windows and their controls, as the layout tables, the GUI
// tests and anyone inspecting the running program see them. The names stay those the
// windows always had; the constants say what each control is (table in README.md).

namespace tessarin::names {

// The wizard window, TForm1.
namespace wizard {
inline constexpr char Window[] = "Form1";
inline constexpr char PictureFrame[] = "Bevel1";
inline constexpr char Picture[] = "Image1";
inline constexpr char ButtonLine[] = "Bevel2";
inline constexpr char Next[] = "Button1";
inline constexpr char Cancel[] = "Button2"; // Finish on the Report page
inline constexpr char Back[] = "Button3";
// The pages, one panel each.
inline constexpr char WelcomePage[] = "Panel1";
inline constexpr char OperationPage[] = "Panel2";
inline constexpr char ProfilePage[] = "Panel3";
inline constexpr char ComponentsPage[] = "Panel4";
inline constexpr char ProcessingPage[] = "Panel5";
inline constexpr char ReportPage[] = "Panel6";
inline constexpr const char* Pages[] = {WelcomePage,    OperationPage,  ProfilePage,
                                        ComponentsPage, ProcessingPage, ReportPage};
// Welcome.
inline constexpr char WelcomeTitle[] = "Label1";
inline constexpr char WelcomeText[] = "StaticText7";
inline constexpr char CloseProgramsText[] = "StaticText8";
inline constexpr char ContinueText[] = "StaticText9";
// Operation.
inline constexpr char OperationTitle[] = "StaticText1";
inline constexpr char OperationBox[] = "GroupBox1";
inline constexpr char BackupChoice[] = "RadioButton1";
inline constexpr char RestoreChoice[] = "RadioButton2";
inline constexpr char ApplicationText[] = "StaticText10";
inline constexpr char ApplicationList[] = "ListBox1";
// Profile selection.
inline constexpr char ProfileTitle[] = "StaticText2";
inline constexpr char ProfileList[] = "ListBox2";
inline constexpr char NewProfile[] = "Button5";
inline constexpr char Refresh[] = "Button6";
inline constexpr char FindProfile[] = "Button7";
inline constexpr char BackupFileTitle[] = "StaticText4";
inline constexpr char BackupFileBox[] = "GroupBox2";
inline constexpr char BackupFilePath[] = "StaticText3";
inline constexpr char Browse[] = "Button4";
// Components.
inline constexpr char ComponentsTitle[] = "StaticText5";
inline constexpr char ComponentsBox[] = "GroupBox3";
// The box of each component number (TComponentNumber); none at 0.
inline constexpr const char* ComponentBox[] = {
    "",           "CheckBox1",  "CheckBox2",  "CheckBox3",  "CheckBox4",  "CheckBox5",
    "CheckBox6",  "CheckBox7",  "CheckBox8",  "CheckBox9",  "CheckBox10", "CheckBox11",
    "CheckBox12", "CheckBox13", "CheckBox14", "CheckBox15",
};
inline constexpr char UnknownFiles[] = "UnknowFilesBT";
// Processing.
inline constexpr char TaskList[] = "ListBox3";
inline constexpr char TaskText[] = "StaticText6";
inline constexpr char Progress[] = "ProgressBar1";
// Report.
inline constexpr char ResultText[] = "StaticText11";
inline constexpr char ReportList[] = "ListBox4";
inline constexpr char NewRun[] = "CheckBox16";
} // namespace wizard

// The new-profile dialog, TForm2.
namespace newProfile {
inline constexpr char Window[] = "TForm2";
inline constexpr char NameText[] = "Label1";
inline constexpr char Name[] = "Edit1";
inline constexpr char LocationBox[] = "GroupBox1";
inline constexpr char Location[] = "Label2";
inline constexpr char Browse[] = "Button3";
inline constexpr char Ok[] = "Button1";
inline constexpr char Cancel[] = "Button2";
} // namespace newProfile

// The set-password dialog, TForm4.
namespace setPassword {
inline constexpr char Window[] = "TForm4";
inline constexpr char Box[] = "GroupBox1";
inline constexpr char Prompt[] = "Label1";
inline constexpr char Line[] = "Bevel1";
inline constexpr char PasswordText[] = "Label2";
inline constexpr char Password[] = "Edit1";
inline constexpr char RepeatText[] = "Label3";
inline constexpr char Repeat[] = "Edit2";
inline constexpr char Ok[] = "Button1";
inline constexpr char Cancel[] = "Button2";
} // namespace setPassword

// The enter-password dialog, TForm5.
namespace enterPassword {
inline constexpr char Window[] = "TForm5";
inline constexpr char Box[] = "GroupBox1";
inline constexpr char Prompt[] = "Label1";
inline constexpr char PasswordText[] = "Label2";
inline constexpr char Password[] = "Edit1";
inline constexpr char Ok[] = "Button1";
inline constexpr char Cancel[] = "Button2";
} // namespace enterPassword

// The unknown-files dialog, TUnknowFilesFM.
namespace unknownFiles {
inline constexpr char Window[] = "TUnknowFilesFM";
inline constexpr char Description[] = "DescriptionLB";
inline constexpr char List[] = "UnknowFilesCLB";
inline constexpr char SelectAll[] = "SelectAllCB";
inline constexpr char Ok[] = "OkBT";
inline constexpr char Cancel[] = "CancelBT";
} // namespace unknownFiles

} // namespace tessarin::names
