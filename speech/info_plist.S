/* The application property list, kept in its own section of the executable so tools can read
   it without running the program: objcopy --dump-section .info_plist=Info.plist tavolu-speech */
	.section .info_plist,"a",@progbits
	.incbin INFO_PLIST_PATH
	.section .note.GNU-stack,"",@progbits
