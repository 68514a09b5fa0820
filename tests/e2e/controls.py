"""The program's windows, controls and commands as the end-to-end tests and the
benchmarks name them: captions, control ids (as main_window/main_form.h,
app/splash.h and about/about_form.h number them) and the command lines it launches."""

# Window captions.
MAIN = "Morvane关机"
SPLASH = "loading..."
ABOUT = "关于"
ERROR_BOX = "错误"

# The main window.
TEXT1 = 101  # seconds field
COMMAND1 = 102  # 开始计时
COMMAND2 = 103  # 打开官网
COMMAND3 = 104  # 关于
COMMAND4 = 105  # 最小化
OPTION1 = 106  # 关机
OPTION2 = 107  # 重启
LABEL1, LABEL2, LABEL3 = 108, 109, 110  # LABEL2 and LABEL3: the advert slots 1 and 2
FRAME1, FRAME2, FRAME3, FRAME4 = 111, 112, 113, 114

# The splash.
SPLASH_TITLE, SPLASH_LOADING, SPLASH_HINT = 201, 202, 203

# The About window.
ABOUT_OK = 301  # 确定
ABOUT_COPYRIGHT, ABOUT_NOTICE, ABOUT_PICTURE = 302, 303, 304

# What the program launches, and how: minimised (STARTUPINFO.wShowWindow).
SHUTDOWN_CMD = "cmd.exe /c shutdown -s -t 3"
RESTART_CMD = "cmd.exe /c shutdown -r -t 3"
SHUTDOWN_EXE_CMD = "shutdown.exe -s -t 3"  # where Windows will not run cmd.exe
SITE_CMD = "explorer.exe http://www.morvane.example/"
SW_SHOWMINIMIZED = 2
MSG_SHUTDOWN_SCHEDULED = "Windows 没有接受关机命令：已有一次关机或重启在计划中（cmd.exe，代码 1190）。"
