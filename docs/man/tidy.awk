# scdoc sets a paragraph mark around every heading (a section's or a
# subsection's) and at the end of every indented block; mandoc's lint takes
# each mark that starts nothing as a fault. This drops a mark that follows a
# heading or another mark or that precedes a heading, and moves one from the
# end of a block to after it.
/^\.P$/ { if (!held && last !~ /^\.(SH|SS|TH|P)( |$)/) held = 1; next }
/^\.RE$/ && held { print; next }
{
    if (held && $0 !~ /^\.(SH|SS|P)( |$)/) print ".P"
    held = 0
    print
    if ($0 !~ /^\.\\"/) last = $0
}
