"""The loader's fixed texts, word for word, for the end-to-end tests."""
DAMAGED = ("An error occurred while trying to read the setup package.  It has most likely been damaged.  "
           "Please obtain a new copy from the vendor.")
TRUNCATED = ("The setup package has been truncated.  You most likely have an incomplete download.  "
             "Try downloading it again.")
TEMP_HINT = ("You can make this installer use a different folder for its temporary files using the /temp command "
             "line parameter followed by the path to a folder you can write to and run applications from.")
TEMP_COPY = ("An error occurred while trying to create a temporary copy of the setup package.  Please make sure that "
             "you have sufficient access rights to this computer to install software and that the Windows TEMP "
             "folder can be written to.  " + TEMP_HINT)
LAUNCH = ("The temporary copy of the setup package could not be executed.  Your system may have a software "
          "restriction policy in place that blocks executables in the temporary files folder.  " + TEMP_HINT)
