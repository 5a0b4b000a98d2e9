⍝ A short session: arrays, a defined function, an error and its report.
'Hello, world'
2+3×4
X←2 3⍴⍳6
X
X×10
X[2;3]
1 0 1/'ABC'
(1 2)(3 4 5)
⍝ A function defined with the ∇ editor, then called.
∇Z←A HYP B
Z←((A*2)+B*2)*0.5
∇
3 HYP 4
5 12 HYP 12 5
⍝ An error stops the function and reports the line where it failed.
1 2 3 HYP 4 5
)SI
)RESET
