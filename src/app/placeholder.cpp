namespace tessarin { void GuiPlaceholder() {} }
