# placeholder: packaging (install of man pages, CPack)
