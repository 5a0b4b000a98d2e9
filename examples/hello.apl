⍝ An example session for the console driver.
⍝ Lines are read and run by the interpreter one by one.
